// Common controls part of qebafx: InitCommonControls and the control
// wrappers (declared with the window classes in afxwin.h).
#pragma once
#include "afxwin.h"
#include <commctrl.h>
