#pragma once
// Stands for a language header that reaches up into the engine.
#include "platform/text.h"
#include "engine/script.h"
