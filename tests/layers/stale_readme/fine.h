#pragma once
// Stands for a language header that keeps to its layers.
#include "platform/text.h"
