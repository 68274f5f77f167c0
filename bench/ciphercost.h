#pragma once

#include "bench/threadcpu.h"

#include <QString>
#include <algorithm>
#include <openssl/evp.h>
#include <vector>

// Plaintext bytes in one TLS record at most.
constexpr size_t kTlsRecordBytes = 16384;
// A TLS record's header, authenticated with it.
constexpr size_t kTlsHeaderBytes = 5;
// The tag an AEAD cipher appends to each record.
constexpr int kAeadTagBytes = 16;
// The nonce of the suites' AEAD ciphers.
constexpr int kAeadNonceBytes = 12;

// The AEAD cipher of a cipher suite by its OpenSSL or IANA name; null when unknown.
inline const EVP_CIPHER *suiteCipher(const QString &suite)
{
    const QString name = suite.toUpper().replace(QLatin1Char('-'), QLatin1Char('_'));
    if (name.contains(QLatin1String("AES_128_GCM")) || name.contains(QLatin1String("AES128_GCM")))
        return EVP_aes_128_gcm();
    if (name.contains(QLatin1String("AES_256_GCM")) || name.contains(QLatin1String("AES256_GCM")))
        return EVP_aes_256_gcm();
    if (name.contains(QLatin1String("CHACHA20_POLY1305")))
        return EVP_chacha20_poly1305();
    return nullptr;
}

// CPU seconds the cipher itself takes over `bytes` bytes cut in full TLS records,
// each sealed as the sending side does and opened as the receiving side does, with
// a nonce of its own (its cost does not depend on the bytes' values); -1 when the cipher is unknown or a record does not open.
inline double cipherCpuSeconds(const QString &suite, qint64 bytes)
{
    const EVP_CIPHER *cipher = suiteCipher(suite);
    if (!cipher)
        return -1;
    std::vector<unsigned char> key(size_t(EVP_CIPHER_get_key_length(cipher)), 0x5a);
    std::vector<unsigned char> nonce(kAeadNonceBytes, 0);
    std::vector<unsigned char> plain(kTlsRecordBytes, 'x');
    std::vector<unsigned char> sealed(kTlsRecordBytes + kAeadTagBytes);
    std::vector<unsigned char> opened(kTlsRecordBytes);
    unsigned char header[kTlsHeaderBytes] = { 23, 3, 3, 0, 0 };
    EVP_CIPHER_CTX *seal = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX *open = EVP_CIPHER_CTX_new();
    bool ok = EVP_EncryptInit_ex(seal, cipher, nullptr, key.data(), nullptr) == 1
        && EVP_DecryptInit_ex(open, cipher, nullptr, key.data(), nullptr) == 1;
    const double start = threadCpuSeconds();
    for (qint64 done = 0; ok && done < bytes; done += qint64(kTlsRecordBytes)) {
        const int size = int(std::min<qint64>(qint64(kTlsRecordBytes), bytes - done));
        nonce[0] = uchar(done >> 14);
        nonce[1] = uchar(done >> 22);
        nonce[2] = uchar(done >> 30);
        int length = 0;
        int ignored = 0;
        ok = EVP_EncryptInit_ex(seal, nullptr, nullptr, nullptr, nonce.data()) == 1
            && EVP_EncryptUpdate(seal, nullptr, &ignored, header, int(kTlsHeaderBytes)) == 1
            && EVP_EncryptUpdate(seal, sealed.data(), &length, plain.data(), size) == 1
            && EVP_EncryptFinal_ex(seal, sealed.data() + length, &ignored) == 1
            && EVP_CIPHER_CTX_ctrl(seal, EVP_CTRL_AEAD_GET_TAG, kAeadTagBytes, sealed.data() + size) == 1
            && EVP_DecryptInit_ex(open, nullptr, nullptr, nullptr, nonce.data()) == 1
            && EVP_DecryptUpdate(open, nullptr, &ignored, header, int(kTlsHeaderBytes)) == 1
            && EVP_DecryptUpdate(open, opened.data(), &length, sealed.data(), size) == 1
            && EVP_CIPHER_CTX_ctrl(open, EVP_CTRL_AEAD_SET_TAG, kAeadTagBytes, sealed.data() + size) == 1
            && EVP_DecryptFinal_ex(open, opened.data() + length, &ignored) == 1;
    }
    const double seconds = threadCpuSeconds() - start;
    EVP_CIPHER_CTX_free(seal);
    EVP_CIPHER_CTX_free(open);
    return ok ? seconds : -1;
}
