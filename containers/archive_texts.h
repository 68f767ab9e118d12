// Why an archive was not read in full: constant texts in Spanish without
// accents, for the outcome's why and a row.
#pragma once

namespace archive_why {

constexpr const char* NoEndRecord = "no se encuentra el final del directorio central";
constexpr const char* NoZip64Record = "no se encuentra el final ZIP64 del directorio central";
constexpr const char* DirectoryOutside = "el directorio central queda fuera del fichero";
constexpr const char* DirectoryBroken = "directorio central truncado o danado";
constexpr const char* LocalMismatch = "una cabecera local no coincide con el directorio central";
constexpr const char* LocalExpected = "falta una cabecera local";
constexpr const char* UnknownSize = "entrada de tamano desconocido sin directorio central";
constexpr const char* DataOutside = "los datos de una entrada quedan fuera del fichero";
constexpr const char* ReadFailed = "error de lectura";
constexpr const char* DeflateBroken = "datos comprimidos danados";
constexpr const char* TooDense = "proporcion de compresion imposible";
constexpr const char* Budget = "limite de datos descomprimidos alcanzado";
constexpr const char* TooDeep = "archivo anidado demasiado profundo";
constexpr const char* TooMany = "demasiadas entradas";
constexpr const char* NoMemory = "memoria insuficiente";
constexpr const char* HeaderBroken = "cabecera danada";
constexpr const char* HeaderCrc = "cabecera con CRC erroneo";
constexpr const char* HeaderTooLarge = "cabecera demasiado grande";
constexpr const char* EncryptedHeaders = "cabeceras cifradas";
constexpr const char* NoSignature = "no empieza por una firma de archivo";

}  // namespace archive_why
