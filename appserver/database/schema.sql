-- Languages, translatable tables and the translated texts of their records.
-- Every text column holds at most its declared size, as the client's fields do.
CREATE TABLE IF NOT EXISTS IDIOMA (
  IDIDIOMA     CHAR(3)     NOT NULL PRIMARY KEY CHECK (length(IDIDIOMA) <= 3),
  DSIDIOMA     VARCHAR(30) NOT NULL CHECK (length(DSIDIOMA) <= 30),
  IDIPROP      CHAR(3)     CHECK (length(IDIPROP) <= 3),
  DTGERIDITRAD REAL,                       -- day count from 30 December 1899
  NRORDEM      INTEGER     NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS PROGTRAD (
  CDPROGTRAD VARCHAR(20) NOT NULL PRIMARY KEY CHECK (length(CDPROGTRAD) <= 20),
  IDMARCADO  CHAR(1)     NOT NULL DEFAULT 'N' CHECK (length(IDMARCADO) <= 1)
);
CREATE TABLE IF NOT EXISTS TRADUCAO (
  CDPROGTRAD  VARCHAR(20)   NOT NULL REFERENCES PROGTRAD (CDPROGTRAD),
  CDCHAVE     VARCHAR(60)   NOT NULL CHECK (length(CDCHAVE) <= 60),      -- the translated record's key
  NMCAMPO     VARCHAR(30)   NOT NULL CHECK (length(NMCAMPO) <= 30),      -- the translated column
  IDIDIOMA    CHAR(3)       NOT NULL CHECK (length(IDIDIOMA) <= 3) REFERENCES IDIOMA (IDIDIOMA),
  DSTRADUCAO  VARCHAR(4000) NOT NULL CHECK (length(DSTRADUCAO) <= 4000),
  DTALTERACAO REAL          NOT NULL,      -- day count from 30 December 1899
  -- Clustered on the key led by the language: a language's rows are read in the
  -- script's order (table, key, column), without a sort.
  PRIMARY KEY (IDIDIOMA, CDPROGTRAD, CDCHAVE, NMCAMPO)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS TRADUCAO_ALTERACAO ON TRADUCAO (IDIDIOMA, DTALTERACAO);
