// Key dialogue bracket shared by the prompts, the pager and the password
// entry: the flash interface is closed and the keyboard unlocked while keys
// are read; the end reopens the flash interface and leaves the keyboard as
// it was before the dialogue (unlocked).
#pragma once

void YOZ_BeginKeyDialogue();
void YOZ_EndKeyDialogue();
