select * from t where a = :p and b = :id and c = :name and f = :Foto and w = :ws and d = :d and x = :flag and y = :none;
update t set [Order Date] = :d where id = :id
