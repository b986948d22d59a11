#include "net/IdIOHandler.h"

// The abstract transport has no behaviour of its own beyond the empty defaults in its declaration.
