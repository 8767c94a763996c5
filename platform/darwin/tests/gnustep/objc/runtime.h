#pragma once
// Test-only: GCC's objc/runtime.h, which GNUstep's headers include, does not parse under clang
// with ARC. These are the runtime's few types that GNUstep's headers name; objc/objc.h (GCC's)
// gives BOOL, id, Class, SEL, IMP, nil and Nil as the runtime defines them.
#include <objc/objc.h>

typedef struct objc_method* Method;
typedef struct objc_ivar* Ivar;
typedef struct objc_property* objc_property_t;
