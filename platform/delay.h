#pragma once

// Sleeps the calling thread for ms milliseconds.
void delay_scaled_ms(int ms);
