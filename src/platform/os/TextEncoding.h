#pragma once
// Moved to common; kept until every user includes the new place.
#include "common/TextEncoding.h"
