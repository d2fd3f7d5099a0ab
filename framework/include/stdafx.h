// Precompiled-header style umbrella of the framework headers.
#pragma once
#include "afxwin.h"
#include "afxcmn.h"
