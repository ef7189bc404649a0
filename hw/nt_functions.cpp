#include "hw/nt_functions.h"

namespace hw {

void* NtFunctions::Address(NtFunction function) {
  if (!bound_) {
    for (unsigned i = 0; i < static_cast<unsigned>(NtFunction::kCount); ++i)
      addresses_[i] = binder_.Find(kNtFunctionNames[i]);
    bound_ = true;
  }
  return addresses_[static_cast<unsigned>(function)];
}

}  // namespace hw
