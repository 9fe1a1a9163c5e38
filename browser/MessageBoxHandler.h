#pragma once

// Routes the program's messages to modal message boxes: the text, the title,
// an OK button only and no icon; its questions to boxes with a button for
// each choice.
void InstallMessageBoxHandler();
