12.5 trailing words
-3

	4e1
