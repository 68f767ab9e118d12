#include "app/texts.h"

const char* const ThreatsHeading = "Detecta y elimina:";
const char* const ThreatList = "Win32.Klez@mm (variants A, B, C, D, E, G, H)\nWin32.Elkern (variants A, B, C)";
const char* const PromotionText =
    "Para una proteccion completa en contra de cualquier amenaza, por favor descarguen las soluciones de "
    "seguridad Velmora desde:";
const char* const VendorHost = "www.velmora-seguridad.com";
const char* const MakerNotice = "Velmora Software S.L. - Herramienta gratuita de desinfeccion";
const char* const AllDrivesText = "Todas las unidades de disco";
const char* const ScanButtonText = "&Analizar";
const char* const InterruptButtonText = "&Interrumpir";
const char* const InterruptQuestion = "?Realmente quiere abandonar el analisis?";
const char* const RestartWarning =
    "Tiene que reiniciar y volver a analizar el ordenador\npara que el proceso de la desinfeccion sea completo.";
const char* const InfectedMailWarning =
    "Hay mensajes infectados en las carpetas de correo (los cuenta el informe).\nBorrelos en el programa "
    "de correo, sin abrirlos ni verlos en la vista previa:\nal verlos, el gusano podria volver a ejecutarse.";
const char* const FolderBrowserTitle = "Seleccione la carpeta para analizar";
const char* const ObjectLabel = "Objeto:";
const char* const SelectFolderButtonText = "Seleccionar &Ruta";
const char* const AboutButtonText = "A&cerca de";
const char* const ExitButtonText = "&Salir";
const char* const FileColumnTitle = "Fichero";
const char* const StatusColumnTitle = "Estado";
