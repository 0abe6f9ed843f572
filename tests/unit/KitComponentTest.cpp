// Ownership, notifications, state flags and events of the component model.
#include "kit/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Log;

class TProbe : public TComponent {
public:
    TProbe(TComponent* AOwner, const std::string& AName) : TComponent(AOwner) { SetName(AName); }
    ~TProbe() override { Log.push_back("free " + Name()); }

    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        // A newcomer is announced from its base constructor, before it has a name.
        const std::string Other = AComponent->Name().empty() ? "new" : AComponent->Name();
        Log.push_back(Name() + (Operation == opInsert ? " +" : " -") + Other);
    }

    void Handler(TObject* Sender) {
        Log.push_back(Name() + " got " + static_cast<TComponent*>(Sender)->Name());
    }
};

class TDerivedProbe : public TProbe {
public:
    using TProbe::TProbe;
};

class KitComponent : public ::testing::Test {
protected:
    void SetUp() override { Log.clear(); }
};

TEST_F(KitComponent, OwnerFreesOwnedComponentsLastCreatedFirst) {
    auto* Form = new TProbe(nullptr, "form");
    new TProbe(Form, "a");
    auto* B = new TProbe(Form, "b");
    new TProbe(B, "b1");
    ASSERT_EQ(Form->ComponentCount(), 2);
    EXPECT_EQ(Form->FindComponent("b"), B);
    EXPECT_EQ(B->Owner(), Form);
    Log.clear();
    delete Form;
    EXPECT_EQ(Log, (std::vector<std::string>{"free form", "free b", "free b1", "free a"}));
}

TEST_F(KitComponent, OwnerAndSiblingsHearOfInsertAndRemove) {
    TProbe Form(nullptr, "form");
    new TProbe(&Form, "a");
    Log.clear();
    auto* B = new TProbe(&Form, "b");
    EXPECT_EQ(Log, (std::vector<std::string>{"a +new", "form +new"}));
    Log.clear();
    delete B;
    EXPECT_EQ(Log, (std::vector<std::string>{"free b", "a -b", "form -b"}));
    EXPECT_EQ(Form.ComponentCount(), 1);
}

TEST_F(KitComponent, FreeNotificationReachesAComponentOfAnotherOwnerAndIsMutual) {
    auto* Menu = new TProbe(nullptr, "menu");
    auto* Icon = new TProbe(nullptr, "icon");
    Icon->FreeNotification(Menu);
    Log.clear();
    delete Menu;
    EXPECT_EQ(Log, (std::vector<std::string>{"free menu", "icon -menu"}));

    // The watcher going first must not leave the watched one holding a dangling pointer.
    auto* Other = new TProbe(nullptr, "other");
    Icon->FreeNotification(Other);
    delete Icon;
    Log.clear();
    delete Other;
    EXPECT_EQ(Log, (std::vector<std::string>{"free other"}));

    auto* X = new TProbe(nullptr, "x");
    auto* Y = new TProbe(nullptr, "y");
    Y->FreeNotification(X);
    Y->RemoveFreeNotification(X);
    Log.clear();
    delete X;
    EXPECT_EQ(Log, (std::vector<std::string>{"free x"}));
    delete Y;
}

TEST_F(KitComponent, DesigningReachesOwnedComponentsAndLoadedEndsLoading) {
    TProbe Form(nullptr, "form");
    auto* A = new TProbe(&Form, "a");
    Form.SetDesigning(true);
    auto* B = new TProbe(&Form, "b");
    EXPECT_TRUE(A->ComponentState().Contains(csDesigning));
    EXPECT_TRUE(B->ComponentState().Contains(csDesigning));
    Form.SetDesigning(false);
    EXPECT_FALSE(A->ComponentState().Contains(csDesigning));

    A->BeginLoading();
    EXPECT_TRUE(A->ComponentState().Contains(csLoading));
    A->Loaded();
    EXPECT_FALSE(A->ComponentState().Contains(csLoading));
}

TEST_F(KitComponent, InsertComponentMovesOwnership) {
    TProbe First(nullptr, "first");
    TProbe Second(nullptr, "second");
    auto* A = new TProbe(&First, "a");
    Second.InsertComponent(A);
    EXPECT_EQ(A->Owner(), &Second);
    EXPECT_EQ(First.ComponentCount(), 0);
    EXPECT_EQ(Second.ComponentCount(), 1);
}

TEST_F(KitComponent, EventIsAssignedOnlyWhenBoundAndPassesTheSender) {
    TProbe Button(nullptr, "button");
    TDerivedProbe Form(nullptr, "form");
    TNotifyEvent OnClick;
    EXPECT_FALSE(OnClick.Assigned());
    RaiseEvent(OnClick, &Button); // unassigned: nothing happens
    EXPECT_TRUE(Log.empty());

    // A method of a base class bound through a derived object.
    OnClick = TNotifyEvent(&Form, &TProbe::Handler);
    EXPECT_TRUE(OnClick.Assigned());
    EXPECT_EQ(OnClick.Object(), static_cast<TProbe*>(&Form));
    RaiseEvent(OnClick, &Button);
    EXPECT_EQ(Log, (std::vector<std::string>{"form got button"}));

    OnClick = nullptr;
    EXPECT_FALSE(OnClick.Assigned());
}

TEST_F(KitComponent, AHandlerMayClearTheEventThatCalledIt) {
    TEvent<TObject*, int> OnData;
    int Seen = 0;
    OnData = TEvent<TObject*, int>::Function([&](TObject*, int Value) {
        OnData = nullptr;
        Seen = Value;
    });
    RaiseEvent(OnData, nullptr, 42);
    EXPECT_EQ(Seen, 42);
    EXPECT_FALSE(OnData.Assigned());
}

enum TColourItem { clRed, clGreen, clBlue };

TEST_F(KitComponent, SetsHoldOneBitPerValue) {
    TSet<TColourItem, unsigned char> S{clRed, clBlue};
    EXPECT_EQ(S.Bits(), 0x05);
    EXPECT_TRUE(S.Contains(clBlue));
    EXPECT_FALSE(S.Contains(clGreen));
    S.Exclude(clRed).Include(clGreen);
    EXPECT_EQ(S.Bits(), 0x06);
    EXPECT_EQ((S - TSet<TColourItem, unsigned char>{clGreen}).Bits(), 0x04);
    EXPECT_TRUE(TSet<TColourItem>().Empty());
}

} // namespace
