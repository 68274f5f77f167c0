-- Demo data: three languages, four translatable tables, texts changed over 2025 and 2026.
INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA, IDIPROP, DTGERIDITRAD, NRORDEM) VALUES
  ('POR', 'Português', 'POR', 46000, 1),
  ('ENG', 'Inglês', 'POR', 46000, 2),
  ('ESP', 'Espanhol', 'POR', 46000, 3);
INSERT INTO PROGTRAD (CDPROGTRAD, IDMARCADO) VALUES
  ('CATEGORIA', 'N'), ('MENSAGEM', 'N'), ('PRODUTO', 'N'), ('UNIDADE', 'N');
-- 45658 = 1 Jan 2025, 45870 = 1 Aug 2025, 46023 = 1 Jan 2026, 46174 = 1 Jun 2026, 46327 = 1 Nov 2026
INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES
  ('CATEGORIA', '1', 'DSCATEGORIA', 'POR', 'Calçados', 45658),
  ('CATEGORIA', '1', 'DSCATEGORIA', 'ENG', 'Footwear', 45870.5),
  ('CATEGORIA', '1', 'DSCATEGORIA', 'ESP', 'Calzado', 46023.25),
  ('CATEGORIA', '2', 'DSCATEGORIA', 'POR', 'Vestuário infantil', 45870),
  ('CATEGORIA', '2', 'DSCATEGORIA', 'ENG', 'Children''s clothing', 46174.375),
  ('CATEGORIA', '2', 'DSCATEGORIA', 'ESP', 'Ropa infantil', 46174.5),
  ('PRODUTO', '1001', 'DSPRODUTO', 'POR', 'Tênis de corrida', 45658),
  ('PRODUTO', '1001', 'DSPRODUTO', 'ENG', 'Running shoes', 46023.5),
  ('PRODUTO', '1001', 'DSPRODUTO', 'ESP', 'Zapatillas para correr', 46327.4),
  ('PRODUTO', '1002', 'DSPRODUTO', 'ENG', 'Kids'' "Star" T-shirt', 46327.6),
  ('PRODUTO', '1002', 'DSPRODUTO', 'ESP', 'Camiseta "Estrella" para niños', 46327.6),
  ('PRODUTO', '1002', 'OBSPRODUTO', 'ENG', 'Wash cold.' || char(10) || 'Do not bleach.', 46330.1),
  ('UNIDADE', 'UN', 'DSUNIDADE', 'ENG', 'Unit', 45870),
  ('UNIDADE', 'UN', 'DSUNIDADE', 'ESP', 'Unidad', 45870),
  ('UNIDADE', 'CX', 'DSUNIDADE', 'ENG', 'Box', 46174),
  ('UNIDADE', 'CX', 'DSUNIDADE', 'ESP', 'Caja', 46174),
  ('MENSAGEM', 'ERR001', 'DSMENSAGEM', 'ENG', 'Customer''s credit limit exceeded; order kept on hold.', 46330.9),
  ('MENSAGEM', 'ERR001', 'DSMENSAGEM', 'ESP', 'Límite de crédito del cliente excedido; pedido retenido.', 46330.9);
