#pragma once

// Preparation of the controller's front panel, done before the window system starts.
namespace Common {

// Switches the framebuffer to 32 bits per pixel and enables the display. 0 on success;
// 1: "/dev/fb0" (or "/dev/uio0" afterwards) cannot be opened, 3: the screen information cannot
// be read, 4: it cannot be written. The reason is printed on standard error.
int initScmFramebuffer();

// Enables the keypad. The result of closing "/dev/uio0", or the negative descriptor when it
// cannot be opened.
int initScmKeypad();

} // namespace Common
