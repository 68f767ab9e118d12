#include "containers/recognize.h"

#include "containers/archive.h"
#include "containers/mail.h"

ContainerKind RecognizeContainer(const uint8_t* head, uint32_t length) {
    const ContainerKind archive = RecognizeArchive(head, length);
    return archive != ContainerKind::None ? archive : RecognizeMail(head, length);
}
