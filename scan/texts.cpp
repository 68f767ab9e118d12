#include "scan/texts.h"

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
const char* const PathTooLongText = "ruta demasiado larga";

const char* const ReportHeading = "Infome del analisis";
const char* const FoldersLabel = "Carpetas:";
const char* const FilesLabel = "Ficheros:";
const char* const InfectedLabel = "Infectado:";
const char* const WarningsLabel = "Advertencias:";
const char* const SuspiciousLabel = "Sospechoso:";
const char* const DisinfectedLabel = "Desinfectado:";
const char* const DeletedLabel = "Eliminado:";
const char* const DisinfectedAtRestartLabel = "Desinfectado al reinicio:";
const char* const DeletedAtRestartLabel = "Eliminado al reinicio:";
const char* const FailedLabel = "Incapaz de desinfectar:";
