// The office readers reach compound documents through the platform's reader.
#pragma once

#include "platform/compound.h"
