#pragma once
#include "geo/Example.h"
