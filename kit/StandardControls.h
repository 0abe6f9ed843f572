#pragma once
// The standard controls of user32 (buttons, check boxes, edits, labels, combo boxes, group boxes),
// and the two drawn by the layer itself: the panel and the image.

#include "kit/Control.h"
#include "kit/Graphics.h"

#include <string>
#include <vector>
#include <windows.h>

enum TBevelCut { bvNone, bvLowered, bvRaised };

class TButton : public TControl {
public:
    explicit TButton(TComponent* AOwner);

    // The button Enter presses when the focus is on no other button.
    bool Default() const { return FDefault; } // default false
    void SetDefault(bool Value);
    // The result a modal form closes with when this button is clicked; 0 closes nothing.
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int Value) { FModalResult = Value; }

    void Click() override;

protected:
    void CreateParams(TCreateParams& Params) const override;
    bool CNCommand(WORD Code) override;

private:
    friend class TForm;
    void UpdateDefaultStyle(bool Active);

    bool FDefault = false;
    int FModalResult = 0;
};

class TCheckBox : public TControl {
public:
    explicit TCheckBox(TComponent* AOwner);

    bool Checked() const; // default false
    void SetChecked(bool Value);

protected:
    void CreateParams(TCreateParams& Params) const override;
    void CreateWnd() override;
    bool CNCommand(WORD Code) override;

private:
    mutable bool FChecked = false;
};

class TEdit : public TControl {
public:
    explicit TEdit(TComponent* AOwner);

    const std::string& Text() const { return Caption(); }
    void SetText(const std::string& Value) { SetCaption(Value); }
    bool ReadOnly() const { return FReadOnly; } // default false
    void SetReadOnly(bool Value);

protected:
    void CreateParams(TCreateParams& Params) const override;

private:
    bool FReadOnly = false;
};

class TLabel : public TControl {
public:
    explicit TLabel(TComponent* AOwner);

    TAlignment Alignment() const { return FAlignment; } // default taLeftJustify
    void SetAlignment(TAlignment Value);
    // Sizes the label to its text: the height always, the width too unless WordWrap. A
    // right-aligned label keeps its right edge.
    bool AutoSize() const { return FAutoSize; } // default true
    void SetAutoSize(bool Value);
    bool WordWrap() const { return FWordWrap; } // default false
    void SetWordWrap(bool Value);

    void Loaded() override;

protected:
    void CreateParams(TCreateParams& Params) const override;
    bool InTabList() const override { return false; }
    bool CNCommand(WORD Code) override;
    void FontChanged() override;
    void TextChanged() override;
    void AdjustBounds();

private:
    TAlignment FAlignment = taLeftJustify;
    bool FAutoSize = true;
    bool FWordWrap = false;
};

// The entries of a combo box, kept in the box's window when it has one.
class TComboBox;
class TComboItems {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    const std::string& operator[](int Index) const { return FItems.at(static_cast<std::size_t>(Index)); }
    // Adds an entry (at its sorted place in a sorted box) and returns its index.
    int Add(const std::string& Item);
    void Clear();
    int IndexOf(const std::string& Item) const;

private:
    friend class TComboBox;
    explicit TComboItems(TComboBox& Box) : FBox(Box) {}
    TComboBox& FBox;
    std::vector<std::string> FItems;
};

// A drop-down list: the user picks one of the entries and cannot type.
class TComboBox : public TControl {
public:
    explicit TComboBox(TComponent* AOwner);

    TComboItems& Items() { return FItems; }
    const TComboItems& Items() const { return FItems; }
    // Entries kept in alphabetical order, not case-sensitive, as the control orders them.
    bool Sorted() const { return FSorted; } // default false
    void SetSorted(bool Value);
    // The selected entry; -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int Value);
    // The selected entry's text; empty when none is selected.
    std::string Text() const;

    TNotifyEvent OnChange;

protected:
    void CreateParams(TCreateParams& Params) const override;
    void CreateWnd() override;
    bool CNCommand(WORD Code) override;
    void FontChanged() override;
    void ChangeScale(int M, int D) override;

private:
    friend class TComboItems;
    void FitHeight();
    TComboItems FItems;
    bool FSorted = false;
    mutable int FItemIndex = -1;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* AOwner);

protected:
    void CreateParams(TCreateParams& Params) const override;
    void WndProc(TMessage& Message) override;
};

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* AOwner);

    TBevelCut BevelInner() const { return FBevelInner; } // default bvNone
    void SetBevelInner(TBevelCut Value);
    TBevelCut BevelOuter() const { return FBevelOuter; } // default bvRaised
    void SetBevelOuter(TBevelCut Value);

protected:
    void CreateParams(TCreateParams& Params) const override;
    void WndProc(TMessage& Message) override;

private:
    void Paint(HDC DC);

    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvRaised;
};

// A picture on the form: an owner-drawn STATIC.
class TImage : public TControl {
public:
    explicit TImage(TComponent* AOwner);

    TPicture* Picture() { return &FPicture; }
    bool Center() const { return FCenter; } // default false
    void SetCenter(bool Value);
    bool Stretch() const { return FStretch; } // default false
    void SetStretch(bool Value);
    // A bitmap's background colour (its bottom-left pixel's) is not drawn.
    bool Transparent() const { return FTransparent; } // default false
    void SetTransparent(bool Value);
    // Sizes the control to the picture.
    bool AutoSize() const { return FAutoSize; } // default false
    void SetAutoSize(bool Value);

    void Loaded() override;

protected:
    void CreateParams(TCreateParams& Params) const override;
    bool InTabList() const override { return false; }
    bool CNDrawItem(const DRAWITEMSTRUCT& Item) override;
    void ChangeScale(int M, int D) override;

private:
    void PictureChanged(TObject* Sender);
    void AdjustSize();

    TPicture FPicture;
    bool FCenter = false;
    bool FStretch = false;
    bool FTransparent = false;
    bool FAutoSize = false;
};
