// A weak reference to a GObject for callbacks that may outlive it (a dialog
// left open while its window closes): get() gives a strong reference while
// the object lives, for a g_autoptr, and null after.
#pragma once

#include <glib-object.h>

template <typename T>
class TolWeakRef {
 public:
  explicit TolWeakRef(T* object = nullptr) { g_weak_ref_init(&ref_, object); }
  TolWeakRef(const TolWeakRef& other) {
    GObject* object = static_cast<GObject*>(g_weak_ref_get(const_cast<GWeakRef*>(&other.ref_)));
    g_weak_ref_init(&ref_, object);
    if (object != nullptr) g_object_unref(object);
  }
  TolWeakRef& operator=(const TolWeakRef&) = delete;
  ~TolWeakRef() { g_weak_ref_clear(&ref_); }

  void set(T* object) { g_weak_ref_set(&ref_, object); }
  T* get() const { return static_cast<T*>(g_weak_ref_get(const_cast<GWeakRef*>(&ref_))); }

 private:
  GWeakRef ref_;
};
