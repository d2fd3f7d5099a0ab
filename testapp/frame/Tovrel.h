// CTORVAApp: the application object of Tovrel.
#pragma once
#include <afxwin.h>

class CTORVAApp : public CWinApp {
public:
    CTORVAApp();
    ~CTORVAApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CTORVAApp theApp;
