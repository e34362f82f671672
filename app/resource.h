#pragma once

// The desktop program's vocabulary: command ids shared by the menu, the tool bar and the
// keyboard, control ids, and the texts the user sees. The numbers are the ones technicians'
// keyboard macros and support notes have always used for these commands.

namespace fieldkit::app {

// Commands. A command's prompt (status bar) and tool tip are its text below.
inline constexpr int ID_UPGRADE = 32771;
inline constexpr int ID_COM_PORT = 32772;
inline constexpr int ID_BOARD_INFO = 32795;
inline constexpr int ID_HOW_TO = 32802;
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_CLOSE = 57602;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;

// Dialog results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Controls of the form and the dialogs.
inline constexpr int IDC_COM_PORT_COMBO = 1000;
inline constexpr int IDC_BOARD_FW_VERSION = 1032;
inline constexpr int IDC_BOARD_ESN = 1033;
inline constexpr int IDC_UPGRADE_BUTTON = 1038;
inline constexpr int IDC_INFO_TEXT = 1039;
inline constexpr int IDC_PROGRESS = 1042;
inline constexpr int IDC_ABOUT_TEXT = 1043;

// Caption parts: the document title, " - ", then the frame title.
inline constexpr const char* IDS_FRAME_TITLE = "QM7731.KX+ & QM9904.KX+ Lodestar Board Upgrade Software";
inline constexpr const char* IDS_DOCUMENT_TITLE = " FieldKit";
inline constexpr const char* IDS_CAPTION_SEPARATOR = " - ";
// The application title: caption of error boxes.
inline constexpr const char* IDS_APP_TITLE = "Upgrade";
// The message pane when no command prompt or status text is shown.
inline constexpr const char* IDS_IDLE_MESSAGE = "Ready";

// "prompt\ntool tip" for each command.
inline constexpr const char* IDS_UPGRADE = "Upgrade Lodestar board firmware\nUpgrade Lodestar board firmware";
inline constexpr const char* IDS_COM_PORT = "Select COM port\nSelect COM port";
inline constexpr const char* IDS_BOARD_INFO = "Get Lodestar board information\nLodestar board information";
inline constexpr const char* IDS_HOW_TO = "Show program help\nHow to use FieldKit";
inline constexpr const char* IDS_FILE_CLOSE = "Exit FieldKit\nExit FieldKit";
inline constexpr const char* IDS_APP_ABOUT = "Display version numbers and copyright\nAbout FieldKit";
inline constexpr const char* IDS_VIEW_TOOLBAR = "Show or hide the tool bar\nToggle tool bar";
inline constexpr const char* IDS_VIEW_STATUS_BAR = "Show or hide the status bar\nToggle status bar";

// Message boxes of the frame.
inline constexpr const char* IDS_WARNING_CAPTION = "Warning";
inline constexpr const char* IDS_DONE_CAPTION = "Done";
inline constexpr const char* IDS_FLASHING_DONE = "Flashing completed successfully";
inline constexpr const char* IDS_QUIT_WHILE_FLASHING =
    "The radio is currently in the process of being flashed.\n"
    "Quitting the program now might render the radio unusable.\n\n"
    "Do you want to quit anyway?";
inline constexpr const char* IDS_HOW_TO_CAPTION = "How to use FieldKit";
inline constexpr const char* IDS_HOW_TO_TEXT =
    "1. Connect the programming cable from the PC to the radio.\n\n"
    "2. Select the correct COM port through the \"Configuration\" menu item.\n\n"
    "3. If a LXU box is used, turn it on.\n\n"
    "4. Turn on the radio and switch it to a Lodestar zone.\n\n"
    "5. Click on the \"Upgrade\" button."
    // Where the firmware goes, for a technician who started the program from the menu.
    "\n\nPut the firmware files corvo_boot.s19 and corvo_fwapp.s19 in the working folder, beside "
    "Info.txt and AppConfig.ini: FieldKit in your Documents folder (else in your home folder) when "
    "FieldKit was started from the menu, else the folder it was started in.";

// The information text shown in the form, read from the current directory.
inline constexpr const char* kInfoFileName = "Info.txt";

} // namespace fieldkit::app
