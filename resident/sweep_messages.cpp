#include "resident/sweep_messages.h"

const char* const ProcessRemovedText = "El proceso Klez eliminado";
const char* const ProcessNotRemovedText = "El proceso Klez no se ha podido eliminar";
const char* const ServiceRemovedText = "El servicio Klez eliminado";
const char* const ServiceNotRemovedText = "El servicio Klez no se ha podido eliminar";
const char* const SweepCaption = "Velmora - Klez & Elkern Herramienta de desinfeccion";

int(WINAPI* residentMessageBox)(HWND, LPCSTR, LPCSTR, UINT) = MessageBoxA;

void ShowSweepMessage(bool removed, const char* removedText, const char* notRemovedText) {
    if (removed) {
        residentMessageBox(nullptr, removedText, SweepCaption, MB_OK | MB_ICONWARNING);
    } else {
        residentMessageBox(nullptr, notRemovedText, SweepCaption, MB_OK | MB_ICONERROR);
    }
}
