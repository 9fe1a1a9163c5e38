#pragma once

// Routes the program's messages to modal message boxes: the text, the title,
// an OK button only and no icon.
void InstallMessageBoxHandler();
