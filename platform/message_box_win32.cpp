#include "platform/message_box.h"

const char* const ProgramCaption = "Velmora - Klez & Elkern Herramienta de desinfeccion";

MessageBoxFunction seamMessageBox = MessageBoxA;
