#pragma once
// The common controls of comctl32 the forms use: the animation and the status bar.

#include "kit/Control.h"

#include <string>
#include <vector>
#include <windows.h>

enum TCommonAVI { aviNone, aviFindComputer };

// The common controls' animation, playing a stock clip of the system's or a clip of this program's
// resources.
class TAnimate : public TControl {
public:
    explicit TAnimate(TComponent* AOwner);

    TCommonAVI CommonAVI() const { return FCommonAVI; } // default aviNone
    void SetCommonAVI(TCommonAVI Value);
    // A clip (resource type "AVI") of this program's resources; 0 for none. Setting one clears
    // CommonAVI, and the other way round.
    int ResID() const { return FResID; } // default 0
    void SetResID(int Value);
    bool Active() const { return FActive; } // default false
    void SetActive(bool Value);
    // Frames counted from 1; 0 means the clip's first or last frame.
    int StartFrame() const { return FStartFrame; } // default 1
    void SetStartFrame(int Value);
    int StopFrame() const { return FStopFrame; } // default 0
    void SetStopFrame(int Value);

protected:
    void CreateParams(TCreateParams& Params) const override;
    void CreateWnd() override;

private:
    void OpenClip();
    void UpdatePlaying();

    TCommonAVI FCommonAVI = aviNone;
    int FResID = 0;
    bool FActive = false;
    int FStartFrame = 1;
    int FStopFrame = 0;
    // The clip was closed because it would not play; opened again before the next try.
    bool FClipClosed = false;
};

struct TStatusPanel {
    std::string Text;
    int Width = 50;
    TAlignment Alignment = taLeftJustify;
};

// The status bar along the parent's bottom edge, in panels.
class TStatusBar : public TControl {
public:
    explicit TStatusBar(TComponent* AOwner);

    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    // Adds a panel and returns its index.
    int AddPanel(const std::string& Text, int Width, TAlignment Alignment = taLeftJustify);
    const TStatusPanel& Panel(int Index) const { return FPanels.at(static_cast<std::size_t>(Index)); }
    void SetPanelText(int Index, const std::string& Text);
    void SetPanelWidth(int Index, int Width);
    void SetPanelAlignment(int Index, TAlignment Alignment);

protected:
    void CreateParams(TCreateParams& Params) const override;
    void CreateWnd() override;
    void FontChanged() override;
    void ChangeScale(int M, int D) override;
    // The bar keeps to its parent's bottom edge, whatever its anchors say.
    void ParentResized(int ClientWidth, int ClientHeight) override;

private:
    void UpdateParts();
    void UpdatePanelText(int Index);
    void FitToParent();

    std::vector<TStatusPanel> FPanels;
};
