// keys.cpp: the key tables of hex editing and of the text view.
//
// The tables hold the whole command vocabulary, with aliases for terminals
// whose keys arrive as raw escape sequences instead of curses key codes.
#include "morvane.h"

namespace {

enum class Cmd {
    Up,
    Down,
    Left,
    Right,
    PageUp,
    PageDown,
    Home,
    End,
    Insert,
    Delete,
    ToggleView,
    Help,
    SwitchPane,
    Redraw,
    FindNext,
    FindPrevious,
    Save,
    Spacing,
    Charset,
    Goto,
    Undo,
    Redo,
    Search,
    Exit,
    Calculator,
    Colour,
    Inspect,
    Escape,
    Find,
    Replace,
    // The selection and the clipboard.
    Mark,
    SelectUp,
    SelectDown,
    SelectLeft,
    SelectRight,
    SelectPageUp,
    SelectPageDown,
    SelectHome,
    SelectEnd,
    Copy,
    Cut,
    PasteOver,
    PasteIn,
    Fill,
    WriteOut,
    ReadIn,
    // The compare view.
    Compare,
    NextDifference,
    PreviousDifference,
    Align
};

struct KeyBinding {
    int key;
    Cmd cmd;
};

// Tried first, in both panes.
constexpr KeyBinding hex_keys[] = {
    {KEY_UP, Cmd::Up},
    {KEY_DOWN, Cmd::Down},
    {KEY_LEFT, Cmd::Left},
    {KEY_RIGHT, Cmd::Right},
    {KEY_PPAGE, Cmd::PageUp},
    {KEY_A3, Cmd::PageUp},
    {ctrl('B'), Cmd::PageUp},
    {ctrl('Y'), Cmd::PageUp},
    {KEY_NPAGE, Cmd::PageDown},
    {KEY_C3, Cmd::PageDown},
    {ctrl('F'), Cmd::PageDown},
    {ctrl('V'), Cmd::PageDown},
    {KEY_HOME, Cmd::Home},
    {KEY_END, Cmd::End},
    // A VT220's Find and Select, where xterm has Home and End.
    {KEY_FIND, Cmd::Home},
    {KEY_SELECT, Cmd::End},
    {ctrl('A'), Cmd::Insert},
    {KEY_IC, Cmd::Insert},
    {ctrl('D'), Cmd::Delete},
    {KEY_DC, Cmd::Delete},
    {ctrl('E'), Cmd::ToggleView},
    {ctrl('G'), Cmd::Help},
    {KEY_F(1), Cmd::Help},
    {'\t', Cmd::SwitchPane},
    {ctrl('L'), Cmd::Redraw},
    {ctrl('N'), Cmd::FindNext},
    {ctrl('O'), Cmd::Save},
    {KEY_F(2), Cmd::Save},
    {ctrl('P'), Cmd::Spacing},
    {ctrl('R'), Cmd::Charset},
    {ctrl('T'), Cmd::Goto},
    {ctrl('U'), Cmd::Undo},
    {ctrl('W'), Cmd::Search},
    {ctrl('X'), Cmd::Exit},
    {KEY_F(3), Cmd::Exit},
    {ctrl('_'), Cmd::Calculator},
    {KEY_F(5), Cmd::Colour},
    // Not in the help menu: what users of other editors look for.
    {KEY_F(4), Cmd::FindPrevious},
    {KEY_F(6), Cmd::Inspect},
    {KEY_F(7), Cmd::Redo},
    {KEY_ESC, Cmd::Escape},
    {KEY_ALT_V, Cmd::PageUp}, // ESC v, decoded by read_escape_sequence
    // The selection: Shift with a move, and Alt-letters (decoded likewise).
    {alt_key('a'), Cmd::Mark},
    {KEY_F(9), Cmd::Mark},
    {KEY_SR, Cmd::SelectUp},
    {KEY_SF, Cmd::SelectDown},
    {KEY_SLEFT, Cmd::SelectLeft},
    {KEY_SRIGHT, Cmd::SelectRight},
    {KEY_SPREVIOUS, Cmd::SelectPageUp},
    {KEY_SNEXT, Cmd::SelectPageDown},
    {KEY_SHOME, Cmd::SelectHome},
    {KEY_SEND, Cmd::SelectEnd},
    {alt_key('w'), Cmd::Copy},
    {alt_key('k'), Cmd::Cut},
    {alt_key('y'), Cmd::PasteOver},
    {alt_key('p'), Cmd::PasteIn},
    {alt_key('f'), Cmd::Fill},
    {alt_key('o'), Cmd::WriteOut},
    {alt_key('i'), Cmd::ReadIn},
    {alt_key('s'), Cmd::Find},
    {alt_key('r'), Cmd::Replace},
    // Alt-C opens the compare view; the others act only inside it.
    {alt_key('c'), Cmd::Compare},
    {alt_key('n'), Cmd::NextDifference},
    {KEY_F(8), Cmd::NextDifference},
    {alt_key('b'), Cmd::PreviousDifference},
    {KEY_ALT_EQUALS, Cmd::Align},
};

// Letter commands: in the hex pane, or in either pane of a read-only file.
enum class Letter {
    PageUp,
    PageDown,
    Left,
    Down,
    Up,
    Right,
    Goto,
    Search,
    JumpPlus,
    JumpMinus,
    JumpAgain
};
struct LetterBinding {
    int key;
    Letter cmd;
};
constexpr LetterBinding letter_keys[] = {
    {'u', Letter::PageUp},    {'U', Letter::PageUp},    {'y', Letter::PageUp},
    {'Y', Letter::PageUp},    {'v', Letter::PageDown},  {'V', Letter::PageDown},
    {' ', Letter::PageDown},  {'h', Letter::Left},      {'H', Letter::Left},
    {'j', Letter::Down},      {'J', Letter::Down},      {'k', Letter::Up},
    {'K', Letter::Up},        {'l', Letter::Right},     {'L', Letter::Right},
    {'t', Letter::Goto},      {'T', Letter::Goto},      {'w', Letter::Search},
    {'W', Letter::Search},    {'+', Letter::JumpPlus},  {'-', Letter::JumpMinus},
    {'n', Letter::JumpAgain}, {'N', Letter::JumpAgain},
};

// Text view: every key not listed is ignored.
constexpr KeyBinding text_keys[] = {
    {ctrl('E'), Cmd::ToggleView}, {ctrl('G'), Cmd::Help},        {ctrl('L'), Cmd::Redraw},
    {ctrl('N'), Cmd::FindNext},   {ctrl('O'), Cmd::Save},        {ctrl('R'), Cmd::Charset},
    {ctrl('T'), Cmd::Goto},       {ctrl('W'), Cmd::Search},      {ctrl('X'), Cmd::Exit},
    {KEY_ESC, Cmd::Escape},       {KEY_F(4), Cmd::FindPrevious}, {alt_key('s'), Cmd::Find},
};

template <typename Table, typename Value> bool lookup(const Table& table, int key, Value& out) {
    for (const auto& binding : table)
        if (binding.key == key) {
            out = binding.cmd;
            return true;
        }
    return false;
}

bool may_insert_delete() {
    return Globals.file_state != FILE_READ_ONLY && Globals.buffered;
}

// Only characters are typed into the file: a function key's code (Backspace,
// Shift-Tab, F12 ...) is no byte, and its low bits would be stored as one.
bool is_character(int key) {
    return key >= 0 && key <= 255;
}

void move_and_show(int arrow) {
    move_cursor(arrow);
}

void page(bool down) {
    if (down)
        page_down();
    else
        page_up();
}

// Only the cursor moves, and update_screen always puts it in place.
void switch_pane() {
    Globals.text_pane = 1 - Globals.text_pane;
}

void exit_key() {
    if (Globals.file_state == FILE_CHANGED)
        quit_if_asked(save_file());
    else
        quit_program();
}

// Control-L must also repair a terminal garbled behind curses' back, so
// curses is told to forget what it believes the screen shows.
void repaint_all() {
    redraw_later(REDRAW_ALL | REDRAW_CLEAR);
}

// A dialog's command: whatever it changed, the whole screen is drawn anew.
void then_redraw() {
    redraw_later(REDRAW_ALL);
}

void run_command(Cmd cmd);

// Shift with a move: the mark is set first where none is, then the cursor
// moves as the key without Shift moves it.
void select_with(Cmd move) {
    select_begin();
    run_command(move);
}

void run_selection_command(Cmd cmd) {
    switch (cmd) {
    case Cmd::Mark:
        select_toggle_mark();
        break;
    case Cmd::SelectUp:
        select_with(Cmd::Up);
        break;
    case Cmd::SelectDown:
        select_with(Cmd::Down);
        break;
    case Cmd::SelectLeft:
        select_with(Cmd::Left);
        break;
    case Cmd::SelectRight:
        select_with(Cmd::Right);
        break;
    case Cmd::SelectPageUp:
        select_with(Cmd::PageUp);
        break;
    case Cmd::SelectPageDown:
        select_with(Cmd::PageDown);
        break;
    case Cmd::SelectHome:
        select_with(Cmd::Home);
        break;
    case Cmd::SelectEnd:
        select_with(Cmd::End);
        break;
    case Cmd::Copy:
        select_copy();
        break;
    case Cmd::Cut:
        select_cut();
        break;
    case Cmd::PasteOver:
        select_paste_over();
        break;
    case Cmd::PasteIn:
        select_paste_in();
        break;
    case Cmd::Fill:
        select_fill();
        then_redraw();
        break;
    case Cmd::WriteOut:
        write_selection();
        then_redraw();
        break;
    case Cmd::ReadIn:
        read_clipboard();
        then_redraw();
        break;
    default:
        break;
    }
}

void run_compare_command(Cmd cmd) {
    if (cmd == Cmd::Compare) {
        if (compare_open())
            compare_close();
        else
            compare_dialog();
        then_redraw();
        return;
    }
    if (!compare_open()) return; // nothing to compare: the keys do nothing
    switch (cmd) {
    case Cmd::NextDifference:
        compare_next(false);
        break;
    case Cmd::PreviousDifference:
        compare_next(true);
        break;
    case Cmd::Align:
        compare_align();
        then_redraw();
        break;
    default:
        break;
    }
}

// The compare view has no room for the text view or the calculator.
bool refused_in_compare(Cmd cmd) {
    return compare_open() && (cmd == Cmd::ToggleView || cmd == Cmd::Calculator);
}

void run_command(Cmd cmd) {
    if (refused_in_compare(cmd)) {
        warn_beep();
        return;
    }
    switch (cmd) {
    case Cmd::Up:
        move_and_show(KEY_UP);
        break;
    case Cmd::Down:
        move_and_show(KEY_DOWN);
        break;
    case Cmd::Left:
        move_and_show(KEY_LEFT);
        break;
    case Cmd::Right:
        move_and_show(KEY_RIGHT);
        break;
    case Cmd::PageUp:
        page(false);
        break;
    case Cmd::PageDown:
        page(true);
        break;
    case Cmd::Home:
        go_home();
        break;
    case Cmd::End:
        go_end();
        break;
    case Cmd::Insert:
        if (may_insert_delete()) insert_byte(0, 0);
        break;
    case Cmd::Delete:
        if (may_insert_delete()) delete_byte(0);
        break;
    case Cmd::ToggleView:
        toggle_view();
        break;
    case Cmd::Help:
        help_menu();
        then_redraw();
        break;
    case Cmd::SwitchPane:
        switch_pane();
        break;
    case Cmd::Redraw:
        // Also the way to see a file another program changed meanwhile.
        reload_changed_file();
        compare_refresh();
        repaint_all();
        break;
    case Cmd::FindNext:
        search(1);
        then_redraw();
        break;
    case Cmd::FindPrevious:
        search(1, true);
        then_redraw();
        break;
    case Cmd::Save:
        save_file();
        then_redraw();
        break;
    case Cmd::Spacing:
        Globals.spacing = 1 - Globals.spacing;
        cursor_x = respaced_col(static_cast<unsigned>(cursor_x));
        then_redraw();
        break;
    case Cmd::Charset:
        Globals.ebcdic = 1 - Globals.ebcdic;
        then_redraw();
        break;
    case Cmd::Goto:
        goto_offset(Globals.filesize);
        then_redraw();
        break;
    case Cmd::Undo:
        if (Globals.file_state != FILE_READ_ONLY) undoLastChange();
        break;
    case Cmd::Redo:
        if (Globals.file_state != FILE_READ_ONLY) redoLastUndo();
        break;
    case Cmd::Search:
        search(0);
        then_redraw();
        break;
    case Cmd::Exit:
        exit_key();
        break;
    case Cmd::Calculator:
        calculator();
        break;
    case Cmd::Colour:
        // A terminal without colours keeps its reverse-video status line.
        if (!color_forced_off && has_colors()) color = color ? 0 : 1;
        repaint_all();
        break;
    case Cmd::Inspect:
        inspect_value();
        then_redraw();
        break;
    case Cmd::Find:
        find_dialog();
        then_redraw();
        break;
    case Cmd::Replace:
        replace_dialog();
        then_redraw();
        break;
    case Cmd::Escape: {
        // A raw sequence acts as the key it names; ESC alone does nothing,
        // except in the compare view, which it leaves.
        int code = 0;
        if (compare_open()) {
            code = escape_sequence_if_any();
            if (code == ERR) {
                run_compare_command(Cmd::Compare);
                break;
            }
        } else {
            code = read_escape_sequence();
        }
        if (Cmd named; lookup(hex_keys, code, named) && named != Cmd::Escape) run_command(named);
        break;
    }
    case Cmd::Compare:
    case Cmd::NextDifference:
    case Cmd::PreviousDifference:
    case Cmd::Align:
        run_compare_command(cmd);
        break;
    default:
        run_selection_command(cmd);
        break;
    }
}

void run_letter(Letter cmd) {
    switch (cmd) {
    case Letter::PageUp:
        page(false);
        break;
    case Letter::PageDown:
        page(true);
        break;
    case Letter::Left:
        move_and_show(KEY_LEFT);
        break;
    case Letter::Down:
        move_and_show(KEY_DOWN);
        break;
    case Letter::Up:
        move_and_show(KEY_UP);
        break;
    case Letter::Right:
        move_and_show(KEY_RIGHT);
        break;
    case Letter::Goto:
        goto_offset(Globals.filesize);
        then_redraw();
        break;
    case Letter::Search:
        search(0);
        then_redraw();
        break;
    case Letter::JumpPlus:
        jump_relative('+');
        break;
    case Letter::JumpMinus:
        jump_relative('-');
        break;
    case Letter::JumpAgain:
        jump_relative(0);
        break;
    }
}

} // namespace

namespace {

// A note in the command bar lasts until the next key.
void forget_bar_note() {
    if (bar_note.empty()) return;
    bar_note.clear();
    redraw_later(REDRAW_BAR);
}

} // namespace

void hex_mode_key(int key_code) {
    if (key_code == ERR) return;
    forget_bar_note();
    const bool had_selection = selection_active();
    Cmd cmd;
    Letter letter;
    if (lookup(hex_keys, key_code, cmd)) {
        run_command(cmd);
    } else if (Globals.text_pane == 1 && Globals.file_state != FILE_READ_ONLY) {
        if (is_character(key_code)) edit_byte(key_code);
    } else if (lookup(letter_keys, key_code, letter)) {
        run_letter(letter);
    } else if (Globals.file_state != FILE_READ_ONLY && is_character(key_code)) {
        edit_byte(key_code);
    }
    select_after_key(had_selection);
    // The frame is drawn when the next key is awaited; a refused key's bell
    // is sent by curses at once.
}

void text_mode_key(int key_code) {
    if (key_code == ERR) return;
    forget_bar_note();
    Cmd cmd;
    if (!lookup(text_keys, key_code, cmd)) return;
    // A raw sequence acts as the text view's key it names (Alt-S); ESC alone
    // and other keys do nothing.
    if (cmd == Cmd::Escape &&
        (!lookup(text_keys, read_escape_sequence(), cmd) || cmd == Cmd::Escape))
        return;
    run_command(cmd);
}

// The text view's page is found before the next frame (text_view_prepare).
void toggle_view() {
    Globals.mode = Globals.mode == MODE_HEX ? MODE_TEXT : MODE_HEX;
    redraw_later(REDRAW_ALL);
}

void quit_if_asked(int save_result) {
    if (save_result)
        quit_program();
    else
        redraw_later(REDRAW_ALL);
}

// For tests: no key may be bound twice in one table.
bool key_tables_are_unique() {
    auto unique = [](const auto& table) {
        for (size_t i = 0; i < std::size(table); ++i)
            for (size_t j = i + 1; j < std::size(table); ++j)
                if (table[i].key == table[j].key) return false;
        return true;
    };
    return unique(hex_keys) && unique(letter_keys) && unique(text_keys);
}
