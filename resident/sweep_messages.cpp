#include "resident/sweep_messages.h"

#include "platform/message_box.h"
#include "platform/seams.h"

const char* const ProcessRemovedText = "El proceso Klez eliminado";
const char* const ProcessNotRemovedText = "El proceso Klez no se ha podido eliminar";
const char* const ServiceRemovedText = "El servicio Klez eliminado";
const char* const ServiceNotRemovedText = "El servicio Klez no se ha podido eliminar";


void ShowSweepMessage(bool removed, const char* removedText, const char* notRemovedText) {
    if (removed) {
        seamMessageBox(nullptr, removedText, ProgramCaption, MB_OK | MB_ICONWARNING);
    } else {
        seamMessageBox(nullptr, notRemovedText, ProgramCaption, MB_OK | MB_ICONERROR);
    }
}
