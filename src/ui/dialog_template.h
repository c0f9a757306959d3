// Dialog templates: the form in which a resource module carries a dialog.
//
// A template is plain data, compiled into the library (res/dialogs/enu/) and
// into each language module (res/dialogs/<code>/), and found through the
// module's resource table as type "DIALOG" with the template id; `data`
// points at a ZorbeluDialogTemplate. Both sides are built from this header;
// the template's own version word guards the layout.
//
// Positions and sizes are in dialog units (see dialog_units.h); texts are
// UTF-8, "&" marks the mnemonic of a button or label and "&&" stands for a
// literal ampersand.
#pragma once

#include <cstdint>

extern "C" {

struct ZorbeluDialogRect {
    int16_t x;
    int16_t y;
    int16_t width;
    int16_t height;
};

struct ZorbeluDialogControl {
    uint32_t kind;     // ZORBELU_CTL_*
    int32_t id;        // ZORBELU_ID_NONE for labels and frames nobody addresses
    const char* text;  // never NULL; "" for none
    uint32_t style;    // ZORBELU_CS_*
    ZorbeluDialogRect rect;
    uint32_t image;    // pictures: the id of their "PNG" resource; else 0
};

struct ZorbeluDialogTemplate {
    uint32_t version;  // ZORBELU_DIALOG_TEMPLATE_VERSION
    uint32_t id;
    const char* caption;
    uint32_t style;  // ZORBELU_DS_*
    ZorbeluDialogRect rect;
    const char* fontName;  // the template's font; backends map it to a family of theirs
    uint32_t fontPoints;
    const ZorbeluDialogControl* controls;
    uint32_t controlCount;
};

}  // extern "C"

#define ZORBELU_DIALOG_TEMPLATE_VERSION 1u

// Control kinds.
#define ZORBELU_CTL_STATIC 1u    // a label
#define ZORBELU_CTL_EDIT 2u      // text field (ZORBELU_CS_MULTILINE: text area)
#define ZORBELU_CTL_BUTTON 3u    // push button
#define ZORBELU_CTL_GROUPBOX 4u  // labelled frame around other controls
#define ZORBELU_CTL_COMBOBOX 5u  // drop-down list
#define ZORBELU_CTL_CHECKBOX 6u
#define ZORBELU_CTL_PICTURE 7u  // an image resource
#define ZORBELU_CTL_TAB 8u      // tab strip; its pages are separate dialogs
#define ZORBELU_CTL_LIST 9u     // list box
#define ZORBELU_CTL_FRAME 10u   // etched line or rectangle without text

#define ZORBELU_ID_NONE (-1)

// Control styles.
#define ZORBELU_CS_HIDDEN 0x0001u     // created without the visible style
#define ZORBELU_CS_DISABLED 0x0002u   // created disabled
#define ZORBELU_CS_READONLY 0x0004u   // edits
#define ZORBELU_CS_MULTILINE 0x0008u  // edits: several lines; labels: wrap
#define ZORBELU_CS_VSCROLL 0x0010u    // edits, lists, combo boxes
#define ZORBELU_CS_DEFAULT 0x0020u    // buttons: the default button
#define ZORBELU_CS_SORTED 0x0040u     // combo boxes, lists
#define ZORBELU_CS_RIGHT 0x0080u      // labels: right-aligned
#define ZORBELU_CS_BORDER 0x0100u     // edits and labels: sunken border

// Dialog styles.
#define ZORBELU_DS_MODALFRAME 0x0001u  // a popup window with caption and system menu
#define ZORBELU_DS_CHILD 0x0002u       // a page without caption, placed inside another dialog
