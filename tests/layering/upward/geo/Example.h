#pragma once
// A deliberate upward include: the layering check must refuse this tree.
#include "document/Example.h"
