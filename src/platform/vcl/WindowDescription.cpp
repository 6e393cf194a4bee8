#include "platform/vcl/WindowDescription.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"

namespace varnix {

namespace {

using json = nlohmann::json;

TComponent* FindDeep(TComponent* Root, const std::string& Name) {
  if (SameName(Root->Name(), Name)) return Root;
  for (int32_t I = 0; I < Root->ComponentCount(); ++I)
    if (TComponent* C = FindDeep(Root->Components(I), Name)) return C;
  return nullptr;
}

void SetLoadingAll(TComponent* Root, bool Value) {
  Root->SetLoading(Value);
  for (int32_t I = 0; I < Root->ComponentCount(); ++I) SetLoadingAll(Root->Components(I), Value);
}

void LoadedAll(TComponent* Root) {
  for (int32_t I = 0; I < Root->ComponentCount(); ++I) LoadedAll(Root->Components(I));
  Root->Loaded();
}

class TApplier {
 public:
  TApplier(TCustomForm* Form, std::string FileName) : FForm(Form), FFile(std::move(FileName)) {}

  [[noreturn]] void Fail(const std::string& What) const {
    throw EWindowDescription("Window description " + FFile + ": " + What);
  }

  int32_t Int(const json& V, const std::string& Where) const {
    if (!V.is_number_integer()) Fail(Where + " must be an integer");
    return V.get<int32_t>();
  }
  std::string Str(const json& V, const std::string& Where) const {
    if (!V.is_string()) Fail(Where + " must be a string");
    return V.get<std::string>();
  }
  bool Bool(const json& V, const std::string& Where) const {
    if (!V.is_boolean()) Fail(Where + " must be true or false");
    return V.get<bool>();
  }

  void ApplyControl(TControl* C, const json& Props, const std::string& Name) {
    int32_t L = C->Left(), T = C->Top(), W = C->Width(), H = C->Height();
    bool Geometry = false;
    for (auto It = Props.begin(); It != Props.end(); ++It) {
      const std::string& K = It.key();
      const json& V = It.value();
      const std::string Where = Name + "." + K;
      if (K == "Name") continue;
      if (K == "Left") L = Int(V, Where), Geometry = true;
      else if (K == "Top") T = Int(V, Where), Geometry = true;
      else if (K == "Width") W = Int(V, Where), Geometry = true;
      else if (K == "Height") H = Int(V, Where), Geometry = true;
      else if (K == "ClientWidth" || K == "ClientHeight") continue;  // after the bounds
      else if (K == "Parent") {
        auto* P = dynamic_cast<TWinControl*>(FindDeep(FForm, Str(V, Where)));
        if (!P) Fail(Where + ": no windowed control named " + V.get<std::string>());
        if (C != FForm) C->SetParent(P);
      } else if (K == "Align") {
        static const char* const Names[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"};
        const std::string S = Str(V, Where);
        int32_t Found = -1;
        for (int32_t I = 0; I < 7; ++I)
          if (S == Names[I]) Found = I;
        if (Found < 0) Fail(Where + ": unknown alignment " + S);
        C->SetAlign(static_cast<TAlign>(Found));
      } else if (K == "Anchors") {
        if (!V.is_array()) Fail(Where + " must be a list");
        TAnchors A;
        for (const json& E : V) {
          const std::string S = Str(E, Where);
          if (S == "akLeft") A.Include(akLeft);
          else if (S == "akTop") A.Include(akTop);
          else if (S == "akRight") A.Include(akRight);
          else if (S == "akBottom") A.Include(akBottom);
          else Fail(Where + ": unknown anchor " + S);
        }
        C->SetAnchors(A);
      } else if (K == "MinWidth") C->Constraints().SetMinWidth(Int(V, Where));
      else if (K == "MinHeight") C->Constraints().SetMinHeight(Int(V, Where));
      else if (K == "MaxWidth") C->Constraints().SetMaxWidth(Int(V, Where));
      else if (K == "MaxHeight") C->Constraints().SetMaxHeight(Int(V, Where));
      else if (K == "Caption" || K == "Text") C->SetText(Str(V, Where));
      else if (K == "Hint") C->SetHint(Str(V, Where));
      else if (K == "Visible") C->SetVisible(Bool(V, Where));
      else if (K == "Enabled") C->SetEnabled(Bool(V, Where));
      else if (K == "TabOrder") {
        auto* WC = dynamic_cast<TWinControl*>(C);
        if (!WC) Fail(Where + ": " + Name + " has no tab order");
        WC->SetTabOrder(Int(V, Where));
      } else if (K == "Font") {
        if (!V.is_object()) Fail(Where + " must be an object");
        for (auto F = V.begin(); F != V.end(); ++F) {
          if (F.key() == "Name") C->Font().SetName(Str(F.value(), Where + ".Name"));
          else if (F.key() == "Height") C->Font().SetHeight(Int(F.value(), Where + ".Height"));
          else if (F.key() == "Style") {
            if (!F.value().is_array()) Fail(Where + ".Style must be a list");
            TFontStyles S;
            for (const json& E : F.value()) {
              const std::string X = Str(E, Where + ".Style");
              if (X == "fsBold") S.Include(fsBold);
              else if (X == "fsItalic") S.Include(fsItalic);
              else if (X == "fsUnderline") S.Include(fsUnderline);
              else if (X == "fsStrikeOut") S.Include(fsStrikeOut);
              else Fail(Where + ".Style: unknown style " + X);
            }
            C->Font().SetStyle(S);
          } else Fail(Where + ": unknown font property " + F.key());
        }
      } else Fail(Where + ": unknown property");
    }
    if (Geometry) C->SetBounds(L, T, W, H);
    if (Props.contains("ClientWidth")) C->SetClientWidth(Int(Props["ClientWidth"], Name + ".ClientWidth"));
    if (Props.contains("ClientHeight")) C->SetClientHeight(Int(Props["ClientHeight"], Name + ".ClientHeight"));
  }

  void Apply(const json& Root) {
    if (!Root.is_object()) Fail("the top level must be an object");
    for (auto It = Root.begin(); It != Root.end(); ++It)
      if (It.key() != "Form" && It.key() != "Components") Fail("unknown section " + It.key());
    if (Root.contains("Form")) {
      if (!Root["Form"].is_object()) Fail("Form must be an object");
      ApplyControl(FForm, Root["Form"], FForm->Name());
    }
    if (!Root.contains("Components")) return;
    if (!Root["Components"].is_array()) Fail("Components must be a list");
    for (const json& E : Root["Components"]) {
      if (!E.is_object() || !E.contains("Name")) Fail("every component entry needs a Name");
      const std::string Name = Str(E["Name"], "Name");
      TComponent* C = FindDeep(FForm, Name);
      if (!C) Fail("no component named " + Name);
      if (auto* Ctl = dynamic_cast<TControl*>(C)) {
        ApplyControl(Ctl, E, Name);
      } else if (auto* Item = dynamic_cast<TMenuItem*>(C)) {
        for (auto It = E.begin(); It != E.end(); ++It) {
          if (It.key() == "Name") continue;
          if (It.key() == "Caption") Item->SetCaption(Str(It.value(), Name + ".Caption"));
          else Fail(Name + "." + It.key() + ": unknown property");
        }
      } else {
        Fail(Name + " is neither a control nor a menu item");
      }
    }
  }

 private:
  TCustomForm* FForm;
  std::string FFile;
};

}  // namespace

void ApplyWindowDescription(TCustomForm* Form, const std::string& Text, const std::string& FileName) {
  json Root;
  try {
    Root = json::parse(Text);
  } catch (const json::exception& E) {
    throw EWindowDescription("Window description " + FileName + ": " + E.what());
  }
  SetLoadingAll(Form, true);
  try {
    TApplier(Form, FileName).Apply(Root);
  } catch (...) {
    SetLoadingAll(Form, false);
    throw;
  }
  LoadedAll(Form);
  Form->Realign();
}

void ReadWindowDescription(TCustomForm* Form, const std::string& FileName) {
  std::ifstream In(FileName, std::ios::binary);
  if (!In) throw EWindowDescription("Cannot read window description " + FileName);
  std::ostringstream S;
  S << In.rdbuf();
  ApplyWindowDescription(Form, S.str(), FileName);
}

bool LoadWindowDescription(TCustomForm* Form, const std::string& Name) {
  const std::string Path = ResourcePath(Name + ".form.json");
  std::error_code Ec;
  if (!std::filesystem::is_regular_file(Path, Ec)) return false;
  ReadWindowDescription(Form, Path);
  return true;
}

}  // namespace varnix
