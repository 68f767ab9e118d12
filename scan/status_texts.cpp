#include "scan/status_texts.h"

const char* const InfectedPrefix = "infectado: ";
const char* const SuspiciousPrefix = "sospechoso: ";
const char* const WarningPrefix = "advertencia: ";
const char* const OpenErrorText = "error al abrir el fichero";
const char* const DisinfectedText = "desinfectado";
const char* const UnableToDisinfectText = "incapaz de desinfectar";
const char* const DeletedText = "eliminado";
const char* const DeletedAtRestartText = "se eliminara al reinicio";
const char* const CopyMadeText = "se crea una copia para la desinfeccion";
const char* const DisinfectedAtRestartText = "se desinfectara al reinicio";
const char* const UnableToOpenText = "incapaz de abrir el fichero";
