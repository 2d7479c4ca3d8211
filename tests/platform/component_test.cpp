#include "platform/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"

namespace orv {
namespace {

// Records its own destruction and the removals it hears of.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* log, std::string tag)
      : TComponent(owner), log_(log), tag_(std::move(tag)) {}
  ~Probe() override { log_->push_back("free " + tag_); }
  TComponent* watched = nullptr;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove && component == watched) {
      log_->push_back(tag_ + " lost watched");
      watched = nullptr;
    }
  }

 private:
  std::vector<std::string>* log_;
  std::string tag_;
};

TEST(Component, AnOwnerFreesItsComponentsLastCreatedFirst) {
  std::vector<std::string> log;
  auto* owner = new Probe(nullptr, &log, "owner");
  auto* a = new Probe(owner, &log, "a");
  new Probe(a, &log, "a1");
  new Probe(owner, &log, "b");
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"free owner", "free b", "free a", "free a1"}));
}

TEST(Component, AComponentFreedAloneLeavesItsOwnerAndItsSiblingsHearOfIt) {
  std::vector<std::string> log;
  TComponent owner;
  auto* a = new Probe(&owner, &log, "a");
  auto* b = new Probe(&owner, &log, "b");
  b->watched = a;
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(log, (std::vector<std::string>{"free a", "b lost watched"}));
}

TEST(Component, FreeNotificationReachesAcrossOwners) {
  std::vector<std::string> log;
  TComponent form1, form2;
  auto* source = new Probe(&form1, &log, "source");
  auto* watcher = new Probe(&form2, &log, "watcher");
  watcher->watched = source;
  watcher->FreeNotification(source);
  delete source;
  EXPECT_EQ(watcher->watched, nullptr);
  // The watcher going first must not leave a dangling entry behind in the other.
  auto* second = new Probe(&form1, &log, "second");
  watcher->watched = second;
  watcher->FreeNotification(second);
  delete watcher;
  delete second;
  EXPECT_EQ(log.back(), "free second");
}

TEST(Component, NamesAreIdentifiersUniqueUnderOneOwner) {
  TComponent owner;
  auto* a = new TComponent(&owner);
  a->SetName("tbCarType");
  EXPECT_EQ(owner.FindComponent("TBCARTYPE"), a);
  auto* b = new TComponent(&owner);
  try {
    b->SetName("tbcartype");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "A component named tbcartype already exists");
  }
  for (const char* bad : {"1abc", "a b", "a-b"}) {
    try {
      b->SetName(bad);
      FAIL() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid component name");
    }
  }
  b->SetName("_ok2");
  b->SetName("");
  EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(Component, DesigningPassesToOwnedComponentsAndLoadingEndsWithLoaded) {
  TComponent owner;
  auto* child = new TComponent(&owner);
  owner.SetDesigning(true);
  EXPECT_TRUE(child->IsDesigning());
  auto* late = new TComponent(&owner);
  EXPECT_TRUE(late->IsDesigning());
  child->Loading();
  EXPECT_TRUE(child->IsLoading());
  child->Loaded();
  EXPECT_FALSE(child->IsLoading());
}

}  // namespace
}  // namespace orv
