#include <gtest/gtest.h>

#include <array>

#include "scene/SceneDocument.h"

using standin::SharedList;

// Copies share one list; a change to any of them is its own.
TEST(SharedList, CopiesShareUntilOneIsChanged) {
    SharedList<int> a = {1, 2, 3};
    SharedList<int> b = a;
    EXPECT_EQ(a.Identity(), b.Identity());
    b.push_back(4);
    EXPECT_NE(a.Identity(), b.Identity());
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(b.size(), 4u);
    a.Edit()[0] = 9;
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(a[0], 9);

    SharedList<int> empty;
    EXPECT_EQ(empty.Identity(), nullptr);
    EXPECT_EQ(empty.data(), nullptr);
    EXPECT_TRUE(empty.begin() == empty.end());
}
