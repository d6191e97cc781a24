// What the core calls that the browser build's C library lacks.
#include <unistd.h>

extern "C" {

// The page's files live in memory, which has nothing to flush to.
int syncfs(int /*fd*/) {
    return 0;
}

}  // extern "C"
