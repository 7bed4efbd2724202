#pragma once
// Names and ids shared by the resource script and the code.

#define kResBannerGif "BANNER_GIF"
#define kResToolbarImages "TOOLBAR_IMAGES"
#define kResButtonGlyphs "BUTTON_GLYPHS"

#define IDD_FRMEDTFILE 200
#define IDC_EDT_LABEL1 201
#define IDC_EDT_EDIT1 202
#define IDC_EDT_BUTTON2 203
#define IDC_EDT_LABEL2 204
#define IDC_EDT_EDIT2 205
#define IDC_EDT_BUTTON3 206
#define IDC_EDT_BITBTN1 1 /* IDOK */
#define IDC_EDT_BITBTN2 2 /* IDCANCEL */
