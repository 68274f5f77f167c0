#include "runtime/core/systemerror.h"

#include <cerrno>
#include <cstring>

QString SystemErrorText(int systemError)
{
    switch (systemError) {
    case ENOSPC: return QStringLiteral("não há espaço livre no dispositivo");
    case EDQUOT: return QStringLiteral("a cota de disco foi excedida");
    case EROFS: return QStringLiteral("o sistema de arquivos é somente leitura");
    case EACCES:
    case EPERM: return QStringLiteral("permissão negada");
    case EISDIR: return QStringLiteral("é um diretório");
    case ENOTDIR: return QStringLiteral("não é um diretório");
    case ENOENT: return QStringLiteral("arquivo ou diretório inexistente");
    case EFBIG: return QStringLiteral("o arquivo ficaria grande demais");
    case EIO: return QStringLiteral("erro de entrada/saída do dispositivo");
    case ENAMETOOLONG: return QStringLiteral("nome de arquivo longo demais");
    case EMFILE:
    case ENFILE: return QStringLiteral("arquivos abertos demais");
    case ETXTBSY: return QStringLiteral("o arquivo está em uso");
    case EPIPE: return QStringLiteral("a saída foi fechada pelo outro lado");
    default: return QString::fromLocal8Bit(std::strerror(systemError));
    }
}
