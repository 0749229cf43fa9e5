#pragma once

#include "platform/Colors.h"

#include <functional>
#include <optional>

class QWidget;

// The system colour chooser. It starts with Color and leaves the chosen colour there.
class TColorDialog
{
public:
    TColor Color = clBlack;

    // False when the user cancels; Color is then unchanged.
    bool Execute(QWidget *parent = nullptr);

    // Tests answer in advance: the hook sees the dialog as it would be shown and returns
    // the chosen colour, or nothing to cancel.
    using Hook = std::function<std::optional<TColor>(const TColorDialog &)>;
    static void setHookForTesting(Hook hook);
};
