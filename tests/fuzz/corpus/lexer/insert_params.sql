Insert into Main (CarTypeId, ProducerModelId, ProducerCarId, StateId, ColorId, NCatalogId,
  Foto, Docum, ModelYear, CarYear, ModelName)
values (:CarTypeId, :ProducerModelId, :ProducerCarId, :StateId, :ColorId, :NCatalogId,
  :Foto, :Docum, :ModelYear, :CarYear, :ModelName)
