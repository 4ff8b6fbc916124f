#pragma once

#include <span>

// A dialog resource as data: the dialog's frame and its controls in resource order, with
// positions in dialog units. Each dialog keeps its table beside its class, as
// res/MenuResource.cpp keeps the tray menu, and BuildDialog turns the table into widgets.

// Controls without an id of their own (labels, frames) carry this one.
inline constexpr int IDC_STATIC = -1;
// The dialog results of the resource's home platform, also the ids of the buttons that give
// them.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

enum class DlgControlKind {
    GroupBox,   // QGroupBox, kept below the controls it frames
    Static,     // QLabel with plain text
    Bitmap,     // QLabel whose pixmap the dialog sets
    Edit,       // QLineEdit
    PushButton, // QPushButton
    CheckBox,   // QCheckBox
    ComboBox,   // QComboBox (drop-down list); its items come from the dialog
    ListView,   // QTreeWidget in report view; its columns come from the dialog
    Custom,     // made by the factory the dialog passes to BuildDialog
};

// Styles of a control, or-ed together.
enum DlgStyle : unsigned {
    kDlgHidden = 1u << 0,
    kDlgDisabled = 1u << 1,
    kDlgDefault = 1u << 2,   // the default push button
    kDlgCentre = 1u << 3,    // centred static text
    kDlgNoPrefix = 1u << 4,  // '&' is shown, not taken as a mnemonic
    kDlgPassword = 1u << 5,  // the edit hides its characters
    kDlgMultiLine = 1u << 6, // the static breaks its text into lines
    kDlgSorted = 1u << 7,    // lists and drop-down lists keep their items sorted
    kDlgBorder = 1u << 8,    // the control has a frame
};

struct DlgControlResource {
    int id; // IDC_STATIC when the control has none
    DlgControlKind kind;
    int x, y, cx, cy;  // dialog units
    const char* text;  // the resource's own text (UTF-8); "" for none
    unsigned textId;   // catalogue id of the text set at run time; 0 for none
    unsigned style{0}; // DlgStyle bits
};

struct DlgResource {
    unsigned id;        // resource number
    const char* title;  // the resource's own title
    unsigned titleId;   // catalogue id of the title set at run time; 0 for none
    const char* font;   // font family of the resource
    int fontPointSize;  // its size in points
    int cx, cy;         // client size in dialog units
    bool caption{true}; // false: a popup without caption, with a thin border
    std::span<const DlgControlResource> controls;
};
