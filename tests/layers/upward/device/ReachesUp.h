// Includes a layer above its own: the layer check must name this line.
#pragma once

#include "comm/Above.h"
