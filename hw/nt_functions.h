// The NT family's security and service functions of ADVAPI32, looked up when the program first
// needs one instead of imported. The loader of the 9x family refuses to start a program that
// imports a function its ADVAPI32 does not export, and these belong to the NT road alone: the
// 9x road never asks for them, so nothing is looked up there.
#pragma once

namespace hw {

enum class NtFunction {
  kAllocateAndInitializeSid,
  kEqualSid,
  kFreeSid,
  kGetTokenInformation,
  kOpenProcessToken,
  kOpenThreadToken,
  kOpenSCManagerA,
  kCreateServiceA,
  kOpenServiceA,
  kStartServiceA,
  kControlService,
  kDeleteService,
  kCloseServiceHandle,
  kCount
};

// Their exported names, in the order above.
inline constexpr const char* kNtFunctionNames[] = {"AllocateAndInitializeSid",
                                                   "EqualSid",
                                                   "FreeSid",
                                                   "GetTokenInformation",
                                                   "OpenProcessToken",
                                                   "OpenThreadToken",
                                                   "OpenSCManagerA",
                                                   "CreateServiceA",
                                                   "OpenServiceA",
                                                   "StartServiceA",
                                                   "ControlService",
                                                   "DeleteService",
                                                   "CloseServiceHandle"};
static_assert(sizeof kNtFunctionNames / sizeof kNtFunctionNames[0] ==
                  static_cast<unsigned>(NtFunction::kCount),
              "one name for each function");

// Looks a function of ADVAPI32 up by name: its address, or null when this system has none.
class FunctionBinder {
 public:
  virtual void* Find(const char* name) = 0;

 protected:
  ~FunctionBinder() = default;  // never deleted through this interface
};

// The addresses of the whole table, looked up together the first time one is asked for.
class NtFunctions {
 public:
  explicit NtFunctions(FunctionBinder& binder) : binder_(binder) {}

  // Null when the function cannot be bound: the caller then fails the call as the function
  // itself would fail it.
  void* Address(NtFunction function);

 private:
  FunctionBinder& binder_;
  bool bound_ = false;
  void* addresses_[static_cast<unsigned>(NtFunction::kCount)] = {};
};

}  // namespace hw
