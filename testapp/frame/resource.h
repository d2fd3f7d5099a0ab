// Resource and control identifiers of Tovrel.
#pragma once

#define IDR_MAINFRAME           128   // application icon
#define IDS_ABOUTBOX            101   // "&About Tovrel..."
#define IDD_ABOUTBOX            100
#define IDD_TOVREL_DIALOG       102
#define IDM_ABOUTBOX            0x0010

#define IDC_WIFI_STATUS         200
#define IDC_WIFI_UPDATE         201
#define IDC_WIFI_ONOFF          202
#define IDC_BT_STATUS           203
#define IDC_BT_UPDATE           204
#define IDC_BT_ONOFF            205
#define IDC_AMBIENT_LIGHT       206
#define IDC_AMBIENT_UPDATE      207
#define IDC_POWER_METER         208
#define IDC_POWER_UPDATE        209
#define IDC_THERMAL_STATUS      230
#define IDC_THERMAL_UPDATE      231
#define IDC_MIC_LED_STATUS      232
#define IDC_MIC_LED_UPDATE      233
#define IDC_MIC_LED_ONOFF       234
#define IDC_VOL_LED_STATUS      235
#define IDC_VOL_LED_UPDATE      236
#define IDC_VOL_LED_ONOFF       237
#define IDC_AUTO_UPDATE         238
#define IDC_UPDATE_ALL          239
#define IDC_EVENT_LOG           1024
#define IDC_CAD_STATUS          1025
#define IDC_CAD_UPDATE          1026
#define IDC_BATTERY_STATUS      1027
#define IDC_BATTERY_UPDATE      1028
#define IDC_USB_S45_LIST        1029
#define IDC_USB_S0_LIST         1030
#define IDC_USB_UPDATE          1031
#define IDC_USB_SET_MODE        1032
#define IDC_FSC_LIST            1033
#define IDC_FSC_UPDATE          1034
#define IDC_FSC_SET_MODE        1035
#define IDC_PC_HEALTH_UPDATE    1037
#define IDC_FSC_STATUS          1038
#define IDC_USB_STATUS          1039
#define IDC_PC_HEALTH_STATUS    1040
