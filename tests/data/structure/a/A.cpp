#include "a/A.h"

#include "b/B.h"

int a() {
    return b();
}
