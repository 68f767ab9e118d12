#include "scan/texts.h"

const char InfectedPrefix[] = "infectado: ";
const char SuspiciousPrefix[] = "sospechoso: ";
const char WarningPrefix[] = "advertencia: ";
const char OpenErrorText[] = "error al abrir el fichero";
const char DisinfectedText[] = "desinfectado";
const char UnableToDisinfectText[] = "incapaz de desinfectar";
const char DeletedText[] = "eliminado";
const char DeletedAtRestartText[] = "se eliminara al reinicio";
const char CopyMadeText[] = "se crea una copia para la desinfeccion";
const char DisinfectedAtRestartText[] = "se desinfectara al reinicio";
const char UnableToOpenText[] = "incapaz de abrir el fichero";
const char PathTooLongText[] = "ruta demasiado larga";

const char MailInfectedPrefix[] = "mensaje infectado: ";
const char MailWarningPrefix[] = "mensaje con advertencia: ";
const char ArchiveInfectedPrefix[] = "contiene ";
const char ArchiveWarningPrefix[] = "contiene con advertencia ";
const char CrcMismatchText[] = "entrada con CRC erroneo";
const char MailDamagedFormat[] = "correo danado, leido hasta el byte %llu: %s";
const char ArchiveDamagedFormat[] = "archivo danado, leido hasta el byte %llu: %s";

const char ReportHeading[] = "Infome del analisis";
const char FoldersLabel[] = "Carpetas:";
const char FilesLabel[] = "Ficheros:";
const char InfectedLabel[] = "Infectado:";
const char WarningsLabel[] = "Advertencias:";
const char SuspiciousLabel[] = "Sospechoso:";
const char DisinfectedLabel[] = "Desinfectado:";
const char DeletedLabel[] = "Eliminado:";
const char DisinfectedAtRestartLabel[] = "Desinfectado al reinicio:";
const char DeletedAtRestartLabel[] = "Eliminado al reinicio:";
const char FailedLabel[] = "Incapaz de desinfectar:";
const char InfectedMessagesLabel[] = "Mensajes infectados:";
const char InfectedMessagesAdvice[] =
    "borrelos en el programa de correo, sin abrirlos ni verlos en la vista previa";
const char InfectedArchivesLabel[] = "Archivos comprimidos infectados:";
const char InfectedArchivesAdvice[] = "borrelos, o quite la entrada infectada con el archivador";
const char NotExaminedLabel[] = "Entradas comprimidas sin examinar:";
