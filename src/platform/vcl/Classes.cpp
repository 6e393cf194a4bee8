#include "platform/vcl/Classes.h"

#include <algorithm>
#include <cctype>

namespace varnix {

bool SameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) == std::tolower(static_cast<unsigned char>(Y));
         });
}

namespace {
bool IsIdentifier(const std::string& S) {
  if (S.empty()) return false;
  if (!(std::isalpha(static_cast<unsigned char>(S[0])) || S[0] == '_')) return false;
  return std::all_of(S.begin(), S.end(), [](char C) { return std::isalnum(static_cast<unsigned char>(C)) || C == '_'; });
}
}  // namespace

TComponentRef::TComponentRef(TComponent* C) {
  if (C) FAlive = C->FAlive;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

void TComponent::BeforeDestruction() {
  if (!Destroying()) {
    MarkDestroying();
    NotifyRemoval();
    DestroyComponents();
  }
}

TComponent::~TComponent() {
  // Components freed with a bare delete skip BeforeDestruction; do its work here.
  if (!Destroying()) {
    MarkDestroying();
    NotifyRemoval();
    DestroyComponents();
  }
  *FAlive = false;
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::NotifyRemoval() {
  // Everyone that asked to be told, then the owner's components.
  std::vector<TComponent*> Notifies = std::move(FFreeNotifies);
  FFreeNotifies.clear();
  for (TComponent* C : Notifies) {
    C->RemoveFreeNotification(this);
    C->Notification(this, opRemove);
  }
  if (FOwner && !FOwner->Destroying()) FOwner->Notification(this, opRemove);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* C = FComponents.back();
    Free(C);  // removes itself from FComponents
    if (!FComponents.empty() && FComponents.back() == C) FComponents.pop_back();
  }
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (!NewName.empty() && !IsIdentifier(NewName))
    throw EComponentError("\"" + NewName + "\" is not a valid component name");
  if (!NewName.empty() && FOwner) {
    TComponent* Other = FOwner->FindComponent(NewName);
    if (Other && Other != this) throw EComponentError("A component named " + NewName + " already exists");
  }
  FName = NewName;
}

void TComponent::SetUniqueName(const std::string& Base) {
  std::string Candidate = Base;
  for (int32_t I = 1; FOwner; ++I) {
    TComponent* Other = FOwner->FindComponent(Candidate);
    if (!Other || Other == this) break;
    Candidate = Base + "_" + std::to_string(I);
  }
  SetName(Candidate);
}

int32_t TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto It = std::find(FOwner->FComponents.begin(), FOwner->FComponents.end(), this);
  return It == FOwner->FComponents.end() ? -1 : static_cast<int32_t>(It - FOwner->FComponents.begin());
}

TComponent* TComponent::FindComponent(const std::string& Name) const {
  if (Name.empty()) return nullptr;
  for (TComponent* C : FComponents)
    if (SameName(C->FName, Name)) return C;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  if (!AComponent->FName.empty() && FindComponent(AComponent->FName))
    throw EComponentError("A component named " + AComponent->FName + " already exists");
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  auto It = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (It == FComponents.end()) return;
  FComponents.erase(It);
  AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
    FFreeNotifies.push_back(AComponent);
    AComponent->FreeNotification(this);  // both directions, so either may go first
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  auto It = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent);
  if (It != FFreeNotifies.end()) {
    FFreeNotifies.erase(It);
    AComponent->RemoveFreeNotification(this);
  }
}

void TComponent::SetLoading(bool Value) {
  if (Value)
    FComponentState.Include(csLoading);
  else
    FComponentState.Exclude(csLoading);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  for (size_t I = 0; I < FComponents.size(); ++I)
    if (FComponents[I] != AComponent) FComponents[I]->Notification(AComponent, Operation);
}

void TStrings::Changed() {
  if (FUpdateCount > 0) {
    FPending = true;
    return;
  }
  if (auto H = OnChange) H(this);
}

void TStrings::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && FPending) {
    FPending = false;
    Changed();
  }
}

void TStrings::SetStrings(int32_t Index, const std::string& Value) {
  FItems.at(static_cast<size_t>(Index)) = Value;
  Changed();
}

int32_t TStrings::Add(const std::string& S) {
  FItems.push_back(S);
  Changed();
  return Count() - 1;
}

void TStrings::Insert(int32_t Index, const std::string& S) {
  Index = std::clamp<int32_t>(Index, 0, Count());
  FItems.insert(FItems.begin() + Index, S);
  Changed();
}

void TStrings::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TStrings::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed();
}

int32_t TStrings::IndexOf(const std::string& S) const {
  for (size_t I = 0; I < FItems.size(); ++I)
    if (SameName(FItems[I], S)) return static_cast<int32_t>(I);
  return -1;
}

void TStrings::Assign(const std::vector<std::string>& Items) {
  FItems = Items;
  Changed();
}

}  // namespace varnix
