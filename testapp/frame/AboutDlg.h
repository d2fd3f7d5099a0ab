// The About box of Tovrel (template IDD_ABOUTBOX).
#pragma once
#include <afxwin.h>

#include "resource.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
    enum { IDD = IDD_ABOUTBOX };
};
