// One owner for every kind of handle the Windows images hold: process, file and service handles,
// registry keys, fonts, modules, tokens, kernel handles and pool blocks alike. Each kind is a
// small `Kind` type that names its empty value and how it is released; the owner releases what it
// holds exactly once, when it goes out of scope or is given something else.
//
// A `Kind` provides:
//   using Handle = ...;                       the handle type
//   static Handle Empty();                    what the owner holds when it holds nothing
//   static bool Holds(Handle);                false for every value that is no handle (a kind
//                                             with two, such as NULL and INVALID_HANDLE_VALUE,
//                                             says so here)
//   void Release(Handle) [const];             gives the handle back; only called when Holds()
// A kind may carry state (the seam through which it releases): pass it to the constructor.
//
// Freestanding: no includes, so that kernel code and the native tests use it as it is.
#pragma once

namespace zynrt {

template <class Kind>
class Owner {
 public:
  using Handle = typename Kind::Handle;

  Owner() : handle_(Kind::Empty()) {}
  explicit Owner(Kind kind) : kind_(kind), handle_(Kind::Empty()) {}
  explicit Owner(Handle handle) : handle_(handle) {}
  Owner(Handle handle, Kind kind) : kind_(kind), handle_(handle) {}
  ~Owner() { Reset(); }

  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& other) : kind_(other.kind_), handle_(other.Release()) {}
  Owner& operator=(Owner&& other) {
    if (this != &other) {
      Reset(other.Release());
      kind_ = other.kind_;
    }
    return *this;
  }

  Handle get() const { return handle_; }
  bool holds() const { return Kind::Holds(handle_); }

  // For a call that writes a new handle through a pointer: whatever was held is released first.
  Handle* receive() {
    Reset();
    return &handle_;
  }

  // Hands the handle to a caller that will release it (or deliberately never does); the owner
  // then holds nothing.
  Handle Release() {
    Handle handle = handle_;
    handle_ = Kind::Empty();
    return handle;
  }

  void Reset(Handle handle = Kind::Empty()) {
    Handle old = handle_;
    handle_ = handle;
    if (Kind::Holds(old))
      kind_.Release(old);
  }

 private:
  Kind kind_{};
  Handle handle_;
};

}  // namespace zynrt
