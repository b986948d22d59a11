#include "net/IdBaseComponent.h"

// The base adds nothing to the component model; the unit exists so that the layer has one home per class.
