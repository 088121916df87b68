/* The "File" menu's resource id and its one command, "Exit". The resource script, the
 * Win32 window and the portable menu strip all take them from here, so this header stays
 * plain C preprocessor: windres reads it too, which is also why it has a guard and not
 * #pragma once. */
#ifndef TAMBLEWICK_UI_MENU_IDS_H
#define TAMBLEWICK_UI_MENU_IDS_H

#define TW_MENU_FILE 109
#define TW_COMMAND_EXIT 105
/* The program's icon: the first icon of the executable, which Explorer shows too. */
#define TW_APP_ICON 1

#endif
