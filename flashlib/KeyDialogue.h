// Key dialogue bracket shared by the prompts, the pager and the password
// entry: the flash interface is closed and the keyboard unlocked while keys
// are read; the end locks the keyboard again and reopens the flash
// interface (the driver unlocks the keyboard when its device is closed).
#pragma once

void YOZ_BeginKeyDialogue();
void YOZ_EndKeyDialogue();
