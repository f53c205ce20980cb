// Ownership of an object whose class is declared but not yet complete
// where the owner is declared (query expressions, record bitmaps, BLOB
// streams, index key paths). The creator, which knows the complete class,
// supplies the routine that frees it; the owner then frees it like any
// unique_ptr without needing the class's definition.
#pragma once

#include <memory>

template <class T>
struct TABSLateDeleter {
  void (*Free)(T*) = nullptr;
  void operator()(T* p) const {
    if (Free != nullptr) Free(p);
  }
};

template <class T>
using TABSLateOwned = std::unique_ptr<T, TABSLateDeleter<T>>;

// Takes ownership of `p`; T must be complete here.
template <class T>
TABSLateOwned<T> MakeLateOwned(T* p) {
  return TABSLateOwned<T>(p, TABSLateDeleter<T>{[](T* q) { delete q; }});
}
