// Window descriptions: the geometry and a few captions of a form, kept in a JSON file beside the
// program and applied by component name after the form's components exist.
//
// The file for a form is <Name>.form.json in the resource directory:
//
//   { "Form": { "Width": 640, "Height": 480, "Caption": "Title", "MinWidth": 400 },
//     "Components": [
//       { "Name": "ToolPanel", "Parent": "MainForm", "Align": "alTop", "Height": 30 },
//       { "Name": "OkButton", "Parent": "ToolPanel", "Left": 560, "Top": 3, "Width": 75,
//         "Height": 25, "Anchors": ["akTop", "akRight"], "Caption": "OK" } ] }
//
// Control properties: Parent (a component name or the form's), Left, Top, Width, Height,
// ClientWidth, ClientHeight, Align (alNone … alClient), Anchors, MinWidth, MinHeight, MaxWidth,
// MaxHeight, Caption, Text, Hint, Visible, Enabled, TabOrder, Font {Name, Height, Style [fsBold…]}.
// Menu items take Caption. Entries apply in file order; the form first. While they apply every
// component is in the loading state; Loaded runs on each afterwards.
#pragma once

#include <string>

#include "common/Objects.h"

namespace varnix {

class TCustomForm;

VARNIX_DECLARE_EXCEPTION(EWindowDescription, Exception);

// Applies the description in Text (FileName names it in messages). Raises EWindowDescription for
// malformed JSON, an unknown component or property, or a value of the wrong type.
void ApplyWindowDescription(TCustomForm* Form, const std::string& Text, const std::string& FileName);
// Reads FileName and applies it; raises EWindowDescription when the file cannot be read.
void ReadWindowDescription(TCustomForm* Form, const std::string& FileName);
// Applies <Name>.form.json from the resource directory; false (nothing applied) when it does not
// exist.
bool LoadWindowDescription(TCustomForm* Form, const std::string& Name);

}  // namespace varnix
