select 'It''s', "say ""hi""", [a]]b], 1.5e-3, .5, 2e10 from t -- line comment
/* block
comment */ where x>=1 and y<>2 or z||'a' != 3; delete from u; ; ;