// Included ahead of every source of the programs on this runtime (-include): the standard
// library's templates (std::string and its allocator among them) are then instantiated in the
// program's own objects, built without exceptions, instead of being declared as instances that
// only the prebuilt C++ library holds, whose copies throw and need the C runtime. Only what a
// program uses is instantiated.
#pragma once

// Any standard header brings in the configuration this overrides; its guard keeps the value.
#include <cstddef>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
