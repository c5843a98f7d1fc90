#pragma once
// Moving values between a dialog's controls and the members that hold them,
// in either direction, in the order the dialog lists them. Reading stops at
// the first control whose text is not a number of the member's kind: the user
// is told (unless the read is a quiet one), the focus goes to that control,
// and the members after it are left as they were.
#include <windows.h>

#include <cstdint>
#include <memory>

class DialogExchange {
public:
    enum class Direction { ToControls, ToMembers };

    // promptCaption: the caption of the parse-failure prompt, or nullptr for a
    // quiet read that prompts for nothing and moves no focus.
    DialogExchange(HWND dialog, Direction direction, const char* promptCaption);

    bool ToMembers() const { return m_direction == Direction::ToMembers; }
    bool Failed() const { return m_failed; }

    // Each does nothing once an earlier step has failed. A control missing
    // from the dialog fails the exchange without a prompt.

    // Binds a member to a control.
    void Control(int id, HWND& binding);
    // The selected list index; -1 when nothing is selected.
    void ComboIndex(int id, int32_t& index);
    void Integer(int id, int32_t& value);
    void Real(int id, float& value);
    // The radio group that starts at firstId and runs to the next control that
    // starts a group: the index of the checked button among the group's radio
    // buttons, -1 when none is checked.
    void Radio(int firstId, int32_t& index);

    static constexpr const char kIntegerPrompt[] = "Please enter an integer.";
    static constexpr const char kRealPrompt[] = "Please enter a number.";

private:
    HWND Item(int id);
    // Reads a control's whole text into a buffer of its own; nullptr when the
    // memory for it cannot be had.
    static std::unique_ptr<char[]> ReadText(HWND control);
    void FailOn(HWND control, const char* prompt);

    HWND m_dialog;
    Direction m_direction;
    const char* m_promptCaption;
    bool m_failed = false;
};
