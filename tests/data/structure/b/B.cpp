#include "b/B.h"

#include "a/A.h"

int b() {
    return a();
}
