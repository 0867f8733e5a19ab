// The outside libraries the brixa library binds at load time: our Device SDK and tunnel library.
#pragma once

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/playsdk/playsdk.h"
#include "t2u/t2u.h"
