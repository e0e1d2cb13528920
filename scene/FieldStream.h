// Records as a flat stream of bytes, for handing them between two builds of
// this program on little-endian 64-bit machines (scene documents to the
// Windows test host; import/SceneWire.cpp streams imported scenes between
// processes with it, adding number packing of its own). Each record lists its
// fields once, in a function
// `template <class IO> void Fields(IO& io, Record& r) { io(r.a, r.b, ...); }`
// found by argument-dependent lookup; one list serves counting, writing and
// reading. Counts travel as 8 bytes, booleans as one, trivially copyable
// values as their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "scene/SceneDocument.h"

namespace quorvex::scene {

// Values that travel as their bytes: trivially copyable ones, unless they
// list their fields (a record with padding does, so that no byte of the
// stream is left undefined).
struct AnyStream {
    template <class... T>
    void operator()(T&...) {}
};
template <class T>
concept ListsFields = requires(AnyStream& io, T& v) {
    Fields(io, v);
};
template <class T>
constexpr bool kTravelsAsBytes = std::is_trivially_copyable_v<T> && !ListsFields<T>;

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsMap : std::false_type {};
template <class K, class V>
struct IsMap<std::map<K, V>> : std::true_type {};
template <class T>
struct IsSharedList : std::false_type {};
template <class T>
struct IsSharedList<SharedList<T>> : std::true_type {};

// What every direction shares: how each kind of value travels. `Derived`
// provides Bytes(pointer, n), Count(n, smallest bytes per element), `ok` and
// kReading. A reader's Count refuses a count the bytes left cannot hold, so
// no memory is taken for a count before its bytes are seen. Optionally,
// `Derived` may take over a kind of value with Own(value) (called instead of
// what follows here), and a reader may prepare a flat array's memory with
// MakeRoom(vector, count) before the array is sized.
template <class Derived>
struct Visitor {
    template <class... T>
    void operator()(T&... values) {
        (Visit(values), ...);
    }

    template <class T>
    void Visit(T& v) {
        Derived& io = static_cast<Derived&>(*this);
        if constexpr (requires { io.Own(v); }) {
            io.Own(v);
        } else if constexpr (std::is_same_v<T, bool>) {
            unsigned char byte = v ? 1 : 0;
            io.Bytes(&byte, 1);
            v = byte != 0;
        } else if constexpr (std::is_same_v<T, std::string>) {
            size_t n = v.size();
            io.Count(n, 1);
            if constexpr (Derived::kReading) v.resize(n);
            io.Bytes(v.data(), n);
        } else if constexpr (IsVector<T>::value) {
            using E = typename T::value_type;
            constexpr bool flat = kTravelsAsBytes<E>;
            size_t n = v.size();
            // Every element that is not flat starts with a count of its own.
            io.Count(n, flat ? sizeof(E) : 8);
            if constexpr (Derived::kReading) {
                if constexpr (flat && requires { io.MakeRoom(v, n); }) io.MakeRoom(v, n);
                v.resize(n);
            }
            if constexpr (flat) {
                io.Bytes(v.data(), n * sizeof(E));
            } else {
                for (E& e : v) Visit(e);
            }
        } else if constexpr (IsSharedList<T>::value) {
            if constexpr (Derived::kReading) {
                std::vector<typename T::value_type> items;
                Visit(items);
                v = T(std::move(items));
            } else {
                Visit(const_cast<std::vector<typename T::value_type>&>(v.Items()));
            }
        } else if constexpr (IsOptional<T>::value) {
            bool has = v.has_value();
            Visit(has);
            if constexpr (Derived::kReading) {
                if (has) v.emplace();
            }
            if (has && v) Visit(*v);
        } else if constexpr (IsMap<T>::value) {
            size_t n = v.size();
            io.Count(n, 16);
            if constexpr (Derived::kReading) {
                for (size_t i = 0; i < n && io.ok; ++i) {
                    typename T::key_type key;
                    typename T::mapped_type value;
                    Visit(key);
                    Visit(value);
                    v.emplace(std::move(key), std::move(value));
                }
            } else {
                for (auto& [key, value] : v) {
                    Visit(const_cast<typename T::key_type&>(key));
                    Visit(value);
                }
            }
        } else if constexpr (kTravelsAsBytes<T>) {
            io.Bytes(&v, sizeof v);
        } else {
            Fields(io, v);
        }
    }
};

// Counts the bytes a record takes.
struct ByteCounter : Visitor<ByteCounter> {
    static constexpr bool kReading = false;
    bool ok = true;
    uint64_t bytes = 0;
    void Bytes(const void*, size_t n) { bytes += n; }
    void Count(size_t&, size_t) { bytes += 8; }
};

template <class IO>
void Fields(IO& io, Picture& p) {
    io(p.width, p.height, p.plain, p.fill, p.pixels);
}

}  // namespace quorvex::scene
